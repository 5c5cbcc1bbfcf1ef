#pragma once
// CQuorvelApi: the multi-target service over the connection list, and the TRG reader.
// Its single instance is the exported global ApiObj.
//
// An adapter that has once run into a transfer time-out is not waited for again: every later
// exchange with it fails at once with the status that time-out left (0x5000 for a reply that
// never came), until its target's plug status is set to PLUG_STARTED again or the connection
// is created anew.
#include <cstdint>
#include <string>

#include "brindlex/export.h"
#include "brindlex/flash_status.h"
#include "brindlex/target_info.h"

class CTrgConnectCtrl;
class CFlashApi;
struct CQuorvelApiTestAccess;

// FlashReadAll's progress: called after each block round with the blocks read so far and the
// blocks the read takes; answers non-zero to go on, 0 to stop the read.
typedef int (*FlashReadAllProgress)(void* context, uint32_t blocksDone, uint32_t blockCount);
// Called about every 100 ms while an exchange waits for its adapter; answers non-zero to go on
// waiting, 0 to give the exchange up.
typedef int (*ExchangeWaitHook)(void* context);

class BRINDLEX_API CQuorvelApi {
  public:
    CQuorvelApi();
    CQuorvelApi(const CQuorvelApi&) = default;             // copies the list pointer
    CQuorvelApi& operator=(const CQuorvelApi&) = default;  // copies the list pointer

    CTrgConnectCtrl* GetTrgConnect();
    void SetTrgConnect(CTrgConnectCtrl* connect);

    // Target description files.
    TRGINFO* ReadTargetInfoFile(uint8_t maxIdBits, uint16_t& foundCount);
    int DeleteTargetInfoSet(TRGINFO** set);

    // Plug-time checks and resets.
    int SysResetPlug(int n);
    int SysReset(int n);
    int SysResetAll();
    int CheckFirm(int n);
    int CheckTargetName(int n, const TRGINFO* set, const std::string& name);
    int IsTargetProtected(int n, uint16_t& protect);
    int SetSecID(int n, uint8_t length, const uint16_t* id, uint16_t& protect);
    int GetSecType(int n, uint16_t& type);

    // All-target flash operations.
    int ChipEraseAll();
    int FlashEraseBlockAll(uint32_t address);
    int FlashWriteAll(uint32_t first, uint32_t last, uint32_t destination, const uint8_t* image);
    int FlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                            const uint8_t* image, uint32_t serialAddress);
    int FlashRead(int n, uint32_t size, uint32_t& count, uint8_t* buffer);

    // FlashRead of every target at the same time: the whole read is that of FlashRead(n, size,
    // counts[n - 1], buffers[n - 1]) for each target n from 1 to bufferCount, with the same
    // bytes, counts and statuses, but all adapters read at once on this one thread: block
    // after block, each block starts with a read-flash request to every target still reading
    // before the first reply is collected, and within it each reply collected is followed at
    // once by that target's next request (one request in flight per adapter).
    // - Read: the targets that FlashRead reads (plug status PLUG_READY, enable flag 1, status
    //   0, and a buffer unless size is 0); their counts start at 0. The other targets up to
    //   bufferCount are left as they are with counts 0; entries past the target count and
    //   targets past bufferCount are not touched.
    // - Each buffer receives the target's flash-area bytes packed from address 0 (the layout
    //   of FlashRead), exactly size of them on success; never more than size.
    // - A target whose read fails is left out of the later rounds with its status set as
    //   FlashRead sets it (0x4001 for a size beyond its flash, the adapter's or transport's
    //   code otherwise) and its count at the bytes of the blocks it finished. The others read
    //   on unaffected.
    // - progress (may be null) is called on this thread after every round that finished a
    //   block, with (context, blocks finished so far by the target furthest on, blocks the
    //   longest read takes), and never while a request is outstanding. When it answers 0 the
    //   read stops there: targets not finished keep status 0 and a count below size, so a
    //   caller that stops must not take their buffers as read. It must not drop the connection
    //   nor start another adapter operation.
    // - Memory: the caller's bufferCount buffers of size bytes; during the call one block of
    //   the target's block size per target read.
    // Returns 0 (nothing done) without a connection, with a negative bufferCount, or with a
    // positive one and null arrays; otherwise 1, also when stopped.
    int FlashReadAll(uint32_t size, uint8_t* const* buffers, uint32_t* counts, int bufferCount,
                     FlashReadAllProgress progress, void* context);

    // Installs the hook that every exchange with an adapter calls while it waits for its
    // request to go out or its reply to come (library-wide; null removes it). Without a hook
    // an exchange waits its whole time-out (5 s writing, 10 s reading) at once; with one it
    // waits in slices of 100 ms and asks the hook after each. An exchange given up fails as a
    // transfer failure does (0x5001 sending, 0x5000 receiving) and is not counted as a
    // time-out; once the hook has answered 0, later waits ask it at once instead of after a
    // slice, until it answers non-zero again. The hook runs in the middle of an exchange: an
    // exchange it asks for fails at once with 0x5001, and it must not drop the connection.
    // context is passed to it unchanged and must outlive the installation.
    void SetExchangeWaitHook(ExchangeWaitHook hook, void* context);

    // Per-target state.
    int GetEnableFlg(int n, int& flag);
    int SetEnableFlg(int n, int flag);
    int GetTargetStatus(int n, int& status);
    int SetTargetStatus(int n, int status);
    int GetTargetPlugSuccess(int n, int& flag);
    int GetTargetPlugStatus(int n, PlugStatus& plugStatus);
    int SetTargetPlugStatus(int n, PlugStatus plugStatus);
    int GetFirmVerStr(int n, char* buffer, uint32_t size, uint32_t& needed);
    // The chip name the adapter reports, NUL-terminated within size bytes; the target's status
    // stays as it was, whatever the exchange gives.
    int GetChipName(int n, char* buffer, uint32_t size);
    int UpdateErrorTargetLED(int n);
    int ErrorTargetLED(int n);
    int GetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t& length);
    int SetSerialNumber(int n, const uint8_t* bytes, uint32_t length);

  private:
    friend struct CQuorvelApiTestAccess;
    int AdrsToNum(const char* text, uint32_t& value);
    uint32_t Calc2BitShift(uint32_t value, uint8_t code, int width);
    // The adapter object of target n, or null when there is no list or n is out of range.
    CFlashApi* Target(int n);

    CTrgConnectCtrl* trgConnect;
};

extern BRINDLEX_API CQuorvelApi ApiObj;
