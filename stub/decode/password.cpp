/*
 * password.cpp: the check of an encrypted member's header.
 *
 * This build reads no encrypted members: no password is ever stored, so
 * the check fails before any byte of the member is read and the walk
 * reports that no password was specified.
 */
#include "../stub.h"

char *StoredPassword;

int CheckEncryptionHeader()
{
    return 0;
}
