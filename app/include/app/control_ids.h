#pragma once
// Resource, control and command ids of the main window and its dialogs. Every handler and
// every view refers to a control by these numbers.

// Common dialog buttons.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDSKIP = 3;    // Security ID dialog: skip this target
constexpr int IDUNPLUG = 2;  // Security ID dialog: its Cancel button unplugs everything

// Templates and resources.
constexpr int IDD_ABOUTBOX = 101;
constexpr int IDD_QUORVEL_DIALOG = 102;
constexpr int IDR_MAINFRAME = 103;  // the program icon
constexpr int IDD_SERIALIZATION = 206;
constexpr int IDR_TARGET_LIST_MENU = 211;  // "TargetListMenu"
constexpr int IDR_MAIN_MENU = 214;
constexpr int IDD_SELECT_TARGET = 214;
constexpr int IDD_SECURITY_ID = 313;

// System menu item that opens the About box.
constexpr int IDM_ABOUTBOX = 16;

// Main window controls.
constexpr int IDC_TARGET_COMBO = 1000;
constexpr int IDC_FILE_NAME_EDIT = 1002;
constexpr int IDC_FILE_BROWSE = 1003;
constexpr int IDC_ADD_TO_LIST = 1004;
constexpr int IDC_COMMAND_FILE_EDIT = 1005;
constexpr int IDC_OFFSET_EDIT = 1007;
constexpr int IDC_RESULT_EDIT = 1008;
constexpr int IDC_DELETE_FROM_LIST = 1014;
constexpr int IDC_WRITE = 1016;
constexpr int IDC_CANCEL_OPERATION = 1017;
constexpr int IDC_ERASE_MEMORY = 1018;
constexpr int IDC_ALL_CHECK = 1019;
constexpr int IDC_SERIALIZATION = 1021;
constexpr int IDC_VERIFY = 1025;
constexpr int IDC_EXIT = 1026;
constexpr int IDC_FILL_FLASH_CONTENT = 1030;  // radio "Content of Flash Memory", fill type 1
constexpr int IDC_FILL_FF = 1032;             // radio "0xFF", fill type 0
constexpr int IDC_ABOUT = 1036;
constexpr int IDC_PLUG = 1038;
constexpr int IDC_CONNECTION_LIST = 1148;
constexpr int IDC_LOG_FILE_EDIT = 1149;
constexpr int IDC_LOG_FILE_BROWSE = 1150;
constexpr int IDC_FILE_LIST = 1151;
constexpr int IDC_CHECK_LIST_LOW = 1152;   // targets 1 to 16
constexpr int IDC_CHECK_LIST_HIGH = 1153;  // targets 17 to 32
constexpr int IDC_WRITE_WITH_VERIFY = 1156;
constexpr int IDC_CONNECTION_CHECK = 1160;
constexpr int IDC_TARGET_NAME_EDIT = 1161;
constexpr int IDC_PROGRAM = 1162;
constexpr int IDC_RESULT_LABEL = 1164;
constexpr int IDC_TARGET_LABEL = 1165;
constexpr int IDC_CONNECTION_LIST_LABEL = 1166;
constexpr int IDC_FILE_NAME_LABEL = 1167;
constexpr int IDC_OFFSET_LABEL = 1168;
constexpr int IDC_FILE_LIST_LABEL = 1169;
constexpr int IDC_LOG_FILE_LABEL = 1170;
constexpr int IDC_COMMAND_FILE_LABEL = 1171;
constexpr int IDC_SERIAL_TEXT_EDIT = 1173;
constexpr int IDC_SERIAL_TEXT_LABEL = 1174;
constexpr int IDC_FILL_GROUP = 1175;
constexpr int IDC_FILL_TEXT_EDIT = 1176;
constexpr int IDC_FILL_TEXT_LABEL = 1177;
constexpr int IDC_CHECKSUM_EDIT = 1180;
constexpr int IDC_CHECKSUM_LABEL = 1181;

// Main menu bar commands.
constexpr int ID_VIEW_DETAIL_MODE = 32775;
constexpr int ID_VIEW_SIMPLE_MODE = 32776;
constexpr int ID_FILE_EXIT = 32779;
constexpr int ID_FILE_PROGRAM_FILES = 32780;
constexpr int ID_FILE_SET_COMMAND_FILE = 32782;
constexpr int ID_SETTING_TARGET = 32783;
constexpr int ID_SETTING_SERIALIZATION = 32784;
// The production record and the yield counters.
constexpr int ID_SETTING_RECORD_FILE = 32790;
constexpr int ID_SETTING_RECORD_ON = 32791;
constexpr int ID_SETTING_RESET_YIELD = 32792;

// Connection list context menu commands.
constexpr int ID_TARGET_PROPERTIES = 32773;
constexpr int ID_TARGET_SAVE_MEMORY = 32774;

// About box.
constexpr int IDC_ABOUT_VERSION = 1034;
constexpr int IDC_ABOUT_TEXT = 1035;

// Serialization dialog.
constexpr int IDC_SERIAL_START = 1009;
constexpr int IDC_SERIAL_ADDRESS = 1010;
constexpr int IDC_SERIAL_INCREMENT = 1011;
constexpr int IDC_SERIAL_LENGTH = 1012;
constexpr int IDC_SERIAL_ON = 1157;
constexpr int IDC_SERIAL_LENGTH_SPIN = 1158;

// Security ID dialog: the twelve word fields are 1350 and 1353 to 1363, in this order.
constexpr int IDC_SECURITY_FIELD_FIRST = 1350;
constexpr int IDC_SECURITY_ENTER_ID = 1351;
constexpr int IDC_SECURITY_INITIALIZE = 1352;
constexpr int kSecurityFieldCount = 12;
constexpr int SecurityFieldId(int index) {
    return index == 0 ? 1350 : 1352 + index;
}
