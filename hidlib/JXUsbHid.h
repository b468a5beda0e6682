/* libJXUsbHid.so: byte-stream access to the HID interface of a VRQPrinter.
 *
 * One process at a time owns the printer. hidusbOpen gives the caller's process id as the
 * handle; the other calls take that handle and do nothing (result 0) for any other value.
 * All calls of one process must come from the thread that opened the device. The library
 * starts no threads, keeps no allocation per transfer and never writes to standard output
 * or standard error.
 *
 * Ownership is kept per user, in two files that the user's processes share: the owner
 * record "JX_USBHID_MEMMAP" and the owner mutex "JX_USBHID_MUTEX", each 4096 bytes, mode
 * 0600, mapped with mmap. They live in $XDG_RUNTIME_DIR when that is a folder of the
 * calling user that nobody else can write; otherwise (XDG_RUNTIME_DIR unset, or a folder
 * of another user, as under "sudo -E") in a folder of the user's own, made with mode 0700
 * when missing: /run/jxusbhid/ for root, $XDG_CACHE_HOME/jxusbhid/ (by default
 * ~/.cache/jxusbhid/) for any other user. So one user's processes never lock out
 * another's, and no other user can put objects in their way. The library never uses a
 * folder that another user owns or that group or others can write, nor an object that
 * belongs to another user or that is not what it makes (wrong size, type or content):
 * hidusbOpen then returns 0.
 */
#ifndef JXUSBHID_H
#define JXUSBHID_H

#include <stdint.h>

#if defined(__GNUC__)
#define JXUSBHID_API __attribute__((visibility("default")))
#else
#define JXUSBHID_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes "2.0.0.0" to buffer. Returns 7 when buffer is null (the length needed), 0 when size
 * is below 7 (buffer untouched), otherwise 7 after the whole buffer of size bytes was
 * zeroed and the 7 characters copied to its start (no terminator when size is exactly 7). */
JXUSBHID_API int hidusbGetVersion(char* buffer, int size);

/* Opens the printer for the calling process. Returns the caller's process id, or 0 when the
 * printer is missing, another process of this user (or another thread of this one) holds
 * it, or the owner objects cannot be made or are refused. Calling it again in the owning
 * process returns the id again and discards unread input. */
JXUSBHID_API int hidusbOpen(void);

/* Closes the printer and gives up the ownership. 1 when done, 0 for a bad handle. */
JXUSBHID_API int hidusbClose(int handle);

/* 1 while the printer is open through this process, otherwise 0. A HID device arriving or
 * leaving closes the printer; hidusbOpen opens it again. */
JXUSBHID_API int hidusbIsOpened(int handle);

/* Fetches one input report from the printer, then moves up to length received bytes into
 * buffer without waiting. Returns the number of bytes copied (0 to length); 0 for a bad
 * handle or when the printer is not open. */
JXUSBHID_API int hidusbReadData(int handle, unsigned char* buffer, int length);

/* Sends length bytes, paced by the printer's credit; waits as long as the printer announces
 * no room. Returns the number of bytes sent; 0 for a bad handle or when not open. */
JXUSBHID_API int hidusbWriteData(int handle, const unsigned char* buffer, int length);

/* selector 0: the address of the library's 1 MiB scratch buffer (zero bytes, the same on
 * every call); selector 1: the scratch word, always 0; other selectors: 0. The first
 * argument is ignored. */
JXUSBHID_API intptr_t hidusbGetHandle(int ignored, int selector);

#ifdef __cplusplus
}
#endif

#endif /* JXUSBHID_H */
