// The analyzer's standard notices.
#include "analyzer/app/dialogs.h"
#include "analyzer/dti/mpg_setting.h"

void show_mpg_not_ready_notice(Dialogs& dialogs) {
  show_important_notice(dialogs, ZTR_MPG_NOT_READY_NOTICE, 320, 140);
}

void show_rtnn_not_ready_notice(Dialogs& dialogs) {
  show_important_notice(dialogs, ZTR_RTNN_NOT_READY_NOTICE, 340, 140);
}

void show_rtnn_reliability_notice(Dialogs& dialogs) {
  show_important_notice(dialogs, ZTR_RTNN_RELIABILITY_NOTICE, 340, 140);
}
