#include "app/serial_source.h"

#include "programdata/string_table.h"

bool PlanSerialNumbers(const std::array<uint8_t, kByteFieldSize>& first, size_t count,
                       uint16_t length, const std::array<uint8_t, kByteFieldSize>& increment,
                       uint16_t incrementLength, std::array<uint8_t, kByteFieldSize>& next,
                       bool& nextWrapped) {
    next = first;
    nextWrapped = false;
    for (size_t n = 0; n < count; ++n) {
        if (nextWrapped)
            return false;
        nextWrapped = AddSerialIncrement(next, length, increment, incrementLength);
    }
    return true;
}

SerialGrant SettingsSerialSource::Take(const WriterSettings& settings,
                                       const SerialRequest& request) {
    SerialGrant grant;
    grant.increment = settings.increment;
    grant.incrementLength = settings.incrementLength;
    grant.first = request.first;
    // Twice at most: a number another program took since the plug moves the start once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!PlanSerialNumbers(grant.first, request.boards.size(), settings.serialLength,
                               settings.increment, settings.incrementLength, grant.next,
                               grant.nextWrapped)) {
            grant.outcome = SerialGrant::Outcome::Overflow;
            return grant;
        }
        std::array<uint8_t, kByteFieldSize> stored{};
        switch (file_.ReserveSerialNumbers(settings, grant.first, grant.next, grant.nextWrapped,
                                           request.chosen, stored)) {
            case SettingsFile::Reservation::Taken:
                grant.outcome = SerialGrant::Outcome::Taken;
                return grant;
            case SettingsFile::Reservation::Wrapped:
                grant.outcome = SerialGrant::Outcome::Overflow;
                return grant;
            case SettingsFile::Reservation::Behind:
                grant.first = stored;
                break;
            case SettingsFile::Reservation::Failed:
                attempt = 2;
                break;
        }
    }
    grant.outcome = SerialGrant::Outcome::Failed;
    grant.messageId = IDS_INI_WRITE_FAILED;
    grant.detail = file_.Path();
    return grant;
}
