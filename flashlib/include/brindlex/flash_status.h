#pragma once
// Status codes kept per target (FlashStatus) and the plug states. 0 means no error.
#include <cstdint>

enum FlashStatus : uint32_t {
    FLASH_OK = 0x0000,
    FLASH_POWER_ON_STATE = 0x0001,  // adapter status word: power-on state not yet left

    FLASH_WRONG_TARGET = 0x2002,       // the chip is not the selected target type
    FLASH_FIRM_TEXT = 0x2003,          // firmware version text is not digit "." digit digit
    FLASH_FIRM_TOO_OLD = 0x2004,       // firmware older than the target description needs
    FLASH_PROTECTED = 0x2005,          // flash protected, security not cleared
    FLASH_VERIFY_DIFFERENCE = 0x2006,  // set by the writer program when verification differs
    FLASH_STOPPED = 0x2007,            // set by the writer program: the operator stopped the
                                       // operation before this target was done

    FLASH_WRITE_ADDRESS = 0x4000,  // write address outside the flash areas
    FLASH_READ_SIZE = 0x4001,      // read size larger than the flash
    FLASH_ERASE_ADDRESS = 0x4003,  // erase address outside the flash areas
    FLASH_READ_ADDRESS = 0x4004,   // read address outside the flash areas
    FLASH_TARGET_INFO = 0x4005,    // bad address or window for set-target-information

    FLASH_RECEIVE_FAILED = 0x5000,  // reply unreadable, too long for the command, or short
    FLASH_SEND_FAILED = 0x5001,     // request not written, or no byte written
    FLASH_EMPTY_REPLY = 0x5002,     // reply of 0 bytes
    FLASH_BAD_MAGIC = 0x5003,       // reply does not start with "CHPM" 0x01
    FLASH_SEQUENCE = 0x5004,        // reply sequence number differs from the request's
    FLASH_NOT_CONNECTED = 0x5005,   // device or pipe could not be opened
};

enum PlugStatus : uint32_t {
    PLUG_NONE = 0,        // not plugged
    PLUG_STARTED = 1,     // plug sequence started
    PLUG_IDENTIFIED = 2,  // identified as the selected type; protection not cleared
    PLUG_READY = 3,       // plugged and unprotected: flash operations allowed
};
