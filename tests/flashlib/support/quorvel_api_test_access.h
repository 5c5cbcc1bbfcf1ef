#pragma once
// Reaches the private helpers of CQuorvelApi from the tests.
#include "brindlex/quorvel_api.h"

struct CQuorvelApiTestAccess {
    static int AdrsToNum(CQuorvelApi& api, const char* text, uint32_t& value) {
        return api.AdrsToNum(text, value);
    }
    static uint32_t Calc2BitShift(CQuorvelApi& api, uint32_t value, uint8_t code, int width) {
        return api.Calc2BitShift(value, code, width);
    }
};
