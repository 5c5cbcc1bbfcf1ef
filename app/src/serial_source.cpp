#include "app/serial_source.h"

#include "programdata/string_table.h"

bool PlanSerialNumbers(const std::array<uint8_t, kByteFieldSize>& first, size_t count,
                       uint16_t length, const std::array<uint8_t, kByteFieldSize>& increment,
                       uint16_t incrementLength, std::array<uint8_t, kByteFieldSize>& next,
                       bool& nextWrapped) {
    return CountOffSerialNumbers(first, int(count), length, increment, incrementLength, next,
                                 nextWrapped) == 0;
}

SerialGrant SettingsSerialSource::Take(const WriterSettings& settings,
                                       const SerialRequest& request) {
    SerialGrant grant;
    grant.increment = settings.increment;
    grant.incrementLength = settings.incrementLength;
    grant.first = request.first;
    switch (file_.ReserveSerialNumbers(settings, int(request.boards.size()), request.chosen,
                                       request.rewind, grant.first, grant.next,
                                       grant.nextWrapped)) {
        case SettingsFile::Reservation::Taken:
            grant.outcome = SerialGrant::Outcome::Taken;
            break;
        case SettingsFile::Reservation::Wrapped:
            grant.outcome = SerialGrant::Outcome::Overflow;
            break;
        case SettingsFile::Reservation::Failed:
            grant.outcome = SerialGrant::Outcome::Failed;
            grant.messageId = IDS_INI_WRITE_FAILED;
            grant.detail = file_.Path();
            break;
    }
    return grant;
}
