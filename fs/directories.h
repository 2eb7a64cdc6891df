// Creating a directory together with every missing parent.
#pragma once

// Creates every level of the full path in `path` (a writable NUL-terminated
// buffer) that does not exist yet: a local path "X:\..." from its first
// directory on, a network path "\\server\..." from the server level on (the
// levels that cannot be created simply fail). Relative and drive-relative
// paths create nothing. Leading spaces are passed over to find the start
// but stay part of the path handed to the system. Nothing is reported; the
// buffer is changed during the call and holds the same text again on return.
void create_directories(char* path);
