#include "engine/instructions.h"

#include "engine/ops_flow.h"
#include "engine/ops_handles.h"
#include "engine/ops_registry.h"
#include "engine/ops_files.h"
#include "engine/ops_system.h"

// Families and their opcodes; a family's handlers take their places here as
// its source joins the build.
//   flow, variables, stack, integers, strings: 2-11, 16, 25-27, 29-33, 47, 48, 65
//   files and directories: 13-15, 17-22, 24, 41, 42, 45, 63
//   registry, INI files, environment: 28, 49-54
//   processes, shell, windows, system: 12, 23, 34-40, 43, 44, 46, 66, 67, 70
//   file and search handles: 55-62
// One line per opcode, in opcode order.
const InstructionHandler instruction_table[OP_TABLE_SIZE] = {
    /*  0 - */ 0,
    /*  1 OP_RETURN */ 0,
    /*  2 OP_JUMP */ op_jump,
    /*  3 OP_ABORT */ op_abort,
    /*  4 OP_QUIT */ op_quit,
    /*  5 OP_CALL */ op_call,
    /*  6 OP_DETAIL_OUTPUT */ op_detail_output,
    /*  7 OP_SLEEP */ op_sleep,
    /*  8 OP_SET_ALL_USERS */ op_set_all_users,
    /*  9 OP_HIDE_WINDOW */ op_hide_window,
    /* 10 OP_BRING_TO_FRONT */ op_bring_to_front,
    /* 11 OP_SET_AUTO_CLOSE */ op_set_auto_close,
    /* 12 OP_SHOW_DETAILS */ op_show_details,
    /* 13 OP_SET_FILE_ATTRIBUTES */ op_set_file_attributes,
    /* 14 OP_CREATE_DIRECTORY */ op_create_directory,
    /* 15 OP_IF_FILE_EXISTS */ op_if_file_exists,
    /* 16 OP_IF_ERROR */ op_if_error,
    /* 17 OP_RENAME */ op_rename,
    /* 18 OP_GET_FULL_PATH */ op_get_full_path,
    /* 19 OP_SEARCH_PATH */ op_search_path,
    /* 20 OP_GET_TEMP_FILE_NAME */ op_get_temp_file_name,
    /* 21 OP_EXTRACT_FILE */ op_extract_file,
    /* 22 OP_DELETE_FILE */ op_delete_file,
    /* 23 OP_MESSAGE_BOX */ op_message_box,
    /* 24 OP_REMOVE_DIRECTORY */ op_remove_directory,
    /* 25 OP_STRING_LENGTH */ op_string_length,
    /* 26 OP_COPY_STRING */ op_copy_string,
    /* 27 OP_COMPARE_STRING */ op_compare_string,
    /* 28 OP_READ_ENVIRONMENT */ op_read_environment,
    /* 29 OP_COMPARE_INT */ op_compare_int,
    /* 30 OP_COMPARE_UINT */ op_compare_uint,
    /* 31 OP_INT_OPERATION */ op_int_operation,
    /* 32 OP_FORMAT_INT */ op_format_int,
    /* 33 OP_STACK */ op_stack,
    /* 34 OP_FIND_WINDOW */ op_find_window,
    /* 35 OP_SEND_MESSAGE */ op_send_message,
    /* 36 OP_IF_WINDOW */ op_if_window,
    /* 37 OP_GET_DIALOG_ITEM */ op_get_dialog_item,
    /* 38 OP_SET_WINDOW_LONG */ op_set_window_long,
    /* 39 OP_SHELL_EXECUTE */ op_shell_execute,
    /* 40 OP_EXECUTE */ op_execute,
    /* 41 OP_GET_FILE_TIME */ op_get_file_time,
    /* 42 OP_GET_FILE_VERSION */ op_get_file_version,
    /* 43 OP_CALL_LIBRARY */ 0,
    /* 44 OP_CREATE_SHORTCUT */ 0,
    /* 45 OP_COPY_FILES */ op_copy_files,
    /* 46 OP_REBOOT */ 0,
    /* 47 OP_IF_REBOOT_FLAG */ op_if_reboot_flag,
    /* 48 OP_SET_REBOOT_FLAG */ op_set_reboot_flag,
    /* 49 OP_WRITE_INI */ op_write_ini,
    /* 50 OP_READ_INI */ op_read_ini,
    /* 51 OP_DELETE_REGISTRY */ op_delete_registry,
    /* 52 OP_WRITE_REGISTRY */ op_write_registry,
    /* 53 OP_READ_REGISTRY */ op_read_registry,
    /* 54 OP_ENUM_REGISTRY */ op_enum_registry,
    /* 55 OP_FILE_CLOSE */ op_file_close,
    /* 56 OP_FILE_OPEN */ op_file_open,
    /* 57 OP_FILE_WRITE */ op_file_write,
    /* 58 OP_FILE_READ */ op_file_read,
    /* 59 OP_FILE_SEEK */ op_file_seek,
    /* 60 OP_FIND_CLOSE */ op_find_close,
    /* 61 OP_FIND_NEXT */ op_find_next,
    /* 62 OP_FIND_FIRST */ op_find_first,
    /* 63 OP_WRITE_UNINSTALLER */ op_write_uninstaller,
    /* 64 - */ 0,
    /* 65 OP_SECTION */ op_section,
    /* 66 OP_SET_CONTROL_BITMAP */ 0,
    /* 67 OP_CREATE_FONT */ 0,
    /* 68 - */ 0,
    /* 69 - */ 0,
    /* 70 OP_REMEMBER_TEMP_DIRECTORY */ op_remember_temp_directory,
};
