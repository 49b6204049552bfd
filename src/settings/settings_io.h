#pragma once

#include "settings/settings_record.h"
#include "settings/settings_store.h"

namespace korvinet::settings {

// Reads every field of the record from the store, in the store's fixed order,
// each field as soon as it is read. False when the key cannot be opened or a
// number is missing, mistyped or of the wrong size; the fields read before
// the failure are then already overwritten, so callers restore the defaults.
// A missing string reads as empty and is not a failure. The values added
// after the first nineteen never fail the read: one that is missing or
// damaged takes its default. On a failure the store is first asked to keep a
// copy of what it holds, since the defaults replace it.
bool ReadSettings(SettingsStore& store, SettingsRecord* record);

// Writes every field, in the same order. Stops at the first value that cannot
// be written and returns false; values written before it stay.
bool WriteSettings(SettingsStore& store, const SettingsRecord& record);

} // namespace korvinet::settings
