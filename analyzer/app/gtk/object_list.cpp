// GTK pieces the analyzer's pages share.
#include "analyzer/app/gtk/object_list.h"

GtkWidget* scrolled(GtkWidget* child, GtkPolicyType horizontal) {
  GtkWidget* window = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(window), horizontal, GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(window), child);
  return window;
}

std::string text_of(GtkTextBuffer* buffer) {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

GtkWidget* new_object_list(GtkListStore** store, GtkSelectionMode mode) {
  *store = gtk_list_store_new(kObjectColumns, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                              G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT);
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(*store));
  g_object_unref(*store);  // the view keeps it
  for (int c = kRowNumber; c <= kName; ++c) {
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
        "", gtk_cell_renderer_text_new(), "text", c, nullptr);
    g_object_set_data(G_OBJECT(column), "ztr-column", GINT_TO_POINTER(c));
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
  }
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), mode);
  return view;
}

void append_object_row(GtkListStore* store, const std::array<std::string, 5>& text, guint id,
                       GtkTreeIter* iter) {
  gtk_list_store_append(store, iter);
  gtk_list_store_set(store, iter, kRowNumber, text[0].c_str(), kKind, text[1].c_str(), kVisible,
                     text[2].c_str(), kStatus, text[3].c_str(), kName, text[4].c_str(), kId, id,
                     -1);
}

std::vector<uint16_t> selected_object_ids(GtkWidget* list) {
  std::vector<uint16_t> ids;
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
       ok = gtk_tree_model_iter_next(model, &iter)) {
    if (!gtk_tree_selection_iter_is_selected(selection, &iter)) continue;
    guint id = 0;
    gtk_tree_model_get(model, &iter, kId, &id, -1);
    ids.push_back(static_cast<uint16_t>(id));
  }
  return ids;
}
