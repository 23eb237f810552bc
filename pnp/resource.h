// Ids of the library's string table. Plain defines: the resource compiler
// reads this header too.
#pragma once

#define IDS_SHELL_TITLE 303
#define IDS_NO_MODEL_NAME 320
#define IDS_PHASE1_CAPTION 321
#define IDS_PHASE2_NOT_REGISTERED 348
#define IDS_DEVNODE_CLEANUP_FAILED 349
#define IDS_PHASE2_CAPTION 350
