/* The user's texts, kept once: the resource script compiles them into the
   string table, and the host simulation serves the same table. */
#ifndef ZELK_STRINGS_H
#define ZELK_STRINGS_H

#define IDS_TITLE 200
#define IDS_COMPLETED 201
#define IDS_DELETE_MANUALLY 202
#define IDS_CONFIRM_UNINSTALL 203
#define IDS_NO_LIST_FILE 204

#define TEXT_TITLE "Uninstall ZELK"
#define TEXT_COMPLETED "Uninstall completed"
#define TEXT_DELETE_MANUALLY "You should delete %s manually"
#define TEXT_CONFIRM_UNINSTALL "Continue with uninstall ZELK"
#define TEXT_NO_LIST_FILE "Cannot open list file"

#endif
