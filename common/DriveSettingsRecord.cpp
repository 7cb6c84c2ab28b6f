#include "DriveSettingsRecord.h"

#include <cstring>

void ApplyStoredSettings(DriveSettingsImage& table, const uint8_t* data, size_t returned, bool readOk)
{
    if (!readOk || data == nullptr)
        return;
    if (returned > DRIVE_SETTINGS_SIZE)
        returned = DRIVE_SETTINGS_SIZE;
    std::memcpy(&table[0], data, returned);
}
