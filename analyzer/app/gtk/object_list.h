// GTK pieces the analyzer's pages share: a scrolled window around a widget, the text of a
// text buffer, and the object lists of ROIs and studies (five row columns and a hidden ID).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The columns of an object list's store; the first five are shown, the ID is not.
enum ObjectListColumn { kRowNumber = 0, kKind, kVisible, kStatus, kName, kId, kObjectColumns };

GtkWidget* scrolled(GtkWidget* child, GtkPolicyType horizontal = GTK_POLICY_AUTOMATIC);
std::string text_of(GtkTextBuffer* buffer);

// A list without headers whose shown columns carry their column number as "ztr-column".
GtkWidget* new_object_list(GtkListStore** store, GtkSelectionMode mode);
// Appends one row: the five texts and the object's ID.
void append_object_row(GtkListStore* store, const std::array<std::string, 5>& text, guint id,
                       GtkTreeIter* iter);
// The IDs of the selected rows, in list order.
std::vector<uint16_t> selected_object_ids(GtkWidget* list);
