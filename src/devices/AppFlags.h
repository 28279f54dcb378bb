#pragma once

// The two application-wide flags of the device conversation. Any thread may
// read or set them; they start clear and the application itself never sets
// them.

// Asks the device reply wait to give up ("Synchronization cancelled.").
bool IsSyncCancelRequested();
void SetSyncCancelRequested(bool requested);

// Turns MTP access off: while set, the MTP device answers as if no phone
// were attached.
bool IsMTPAccessDisabled();
void SetMTPAccessDisabled(bool disabled);
