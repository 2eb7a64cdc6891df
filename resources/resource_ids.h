// Resource and control identifiers of the stub, shared by the resource script
// and the code (macros only: the resource compiler reads this file too).
#pragma once

#define IDI_INSTALLER 103

// The components page's check images: six 16x16 images side by side.
#define IDB_CHECK_IMAGES 109

// Dialog templates: the wizard's main window, its pages, the progress dialog.
#define IDD_LICENSE_PAGE 102
#define IDD_DIRECTORY_PAGE 103
#define IDD_COMPONENTS_PAGE 104
#define IDD_MAIN_WINDOW 105
#define IDD_INSTALL_FILES_PAGE 106
#define IDD_UNINSTALL_PAGE 107
#define IDD_PROGRESS 111

// The main window's controls.
#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 3
#define IDC_PAGE_AREA 1018
#define IDC_BRANDING 1028

// Controls of the pages: the intro text (every page), the directory page,
// the uninstall confirmation page.
#define IDC_INTRO 1006
#define IDC_BROWSE 1001
#define IDC_DIRECTORY 1019
#define IDC_DIRECTORY_LABEL 1020
#define IDC_SPACE_REQUIRED 1023
#define IDC_SPACE_AVAILABLE 1024
#define IDC_UNINSTALL_DIRECTORY 1000
#define IDC_UNINSTALL_LABEL 1029

// The install-files page's controls.
#define IDC_PROGRESS_BAR 1004
#define IDC_PROGRESS_BAR_SMOOTH 1005
#define IDC_STATUS_LINE 1006
#define IDC_DETAILS_LIST 1016
#define IDC_SHOW_DETAILS 1027
#define IDC_PAGE_ICON 1031

// The components page's controls. The description box is ours: scripts
// (and the hover descriptions of a description file) write into it.
#define IDC_INSTALL_TYPES 1017
#define IDC_INSTALL_TYPES_LABEL 1021
#define IDC_COMPONENTS_TREE_LABEL 1022
#define IDC_COMPONENTS_TREE 1032
#define IDC_SECTION_DESCRIPTION 1043

// The license page's controls.
#define IDC_LICENSE_TEXT 1000
#define IDC_LICENSE_INTRO 1006

// The progress dialog's text.
#define IDC_PROGRESS_TEXT 1030
