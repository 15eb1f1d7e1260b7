// Machine-wide documents and folders that an elevated Tovu acts on (backups,
// the cleaned-entries list, the add-on list, translations, the machine-wide
// startup list and stash): only administrators and SYSTEM may write them, so
// that no standard user can steer what the elevated program does.
#pragma once

#include <string>

// Whether this process may act on the machine-wide document or folder: always
// when it is not elevated (it can do no more than its user could anyway),
// otherwise only when the Administrators group, SYSTEM or the account this
// process runs as owns it.
bool TrustedMachineFile(const std::string &path);
// Gives a machine-wide document or folder that this process wrote the list
// that lets only administrators and SYSTEM write (users read). Silent on
// failure: a program that is not elevated cannot, and need not.
void ProtectMachineFile(const std::string &path);
