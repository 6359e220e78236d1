/* cardfs — setup of the KERNEL32 stand-in behind the diskette driver.
 *
 * The diskette driver reaches drives A: and B: through a few KERNEL32
 * calls. A build made with the CMake option CARDFS_KERNEL32_STANDIN (the
 * default everywhere but Windows, and the Windows test build) routes those
 * calls to a stand-in, the library kernel32_standin, which simulates the
 * two drives on diskette images: raw sector images of 737,280 bytes (720
 * KB, 9 sectors per track) or 1,474,560 bytes (1.44 MB, 18 sectors per
 * track), 80 cylinders and 2 heads of 512-byte sectors, as dd and PC
 * emulators write them, or a real block device of one of these sizes.
 * Every transfer goes to the image file itself, so its content survives
 * the process. A build without the option uses the real KERNEL32 and
 * these calls are not there.
 *
 * The stand-in answers both ways the driver takes:
 *  - the Windows NT family: "\\.\A:" and "\\.\B:" open as drives; the
 *    geometry query reports the image's geometry (or the one set with
 *    K32S_SetReportedGeometry); reads and writes move whole sectors at the
 *    file position. A drive without a diskette, or not ready, fails them
 *    with error 21; a write-protected diskette fails writes with error 19;
 *    an injected failure is error 23 (CRC).
 *  - the Windows 9x family: "\\.\VWIN32" opens, and DeviceIoControl code 4
 *    runs the BIOS disk services of INT 13h: read (AH 2) and write (AH 3)
 *    of sectors at cylinder, head and sector, and the disk change status
 *    (AH 0x16). Results as the BIOS gives them: AH 0 and carry clear on
 *    success; otherwise carry set and AH 3 write-protected, 4 sector not
 *    found (outside the diskette's geometry), 0x10 an injected failure,
 *    0x80 no diskette or not ready. The disk change status answers 6 once
 *    after a diskette was inserted, swapped or reported changed, and every
 *    time while the drive is empty (so twice in a row), 0x80 while the
 *    drive is not ready, otherwise 0.
 * Each family sees only its own devices. GetVersionExA reports the family
 * chosen with K32S_SetPlatform (the NT family at the start).
 *
 * Setup calls return -1 on success, or a negative failure code:
 * CARDFS_E_ARGUMENT (-103) for a drive other than 0 (A:) or 1 (B:), a null
 * path or an image of another size; CARDFS_E_IO (-100) for an image that
 * cannot be opened. None of them closes a handle the stand-in handed out.
 */
#ifndef CARDFS_KERNEL32_STANDIN_H
#define CARDFS_KERNEL32_STANDIN_H

#include <stdint.h>

#if defined(_WIN32) && !defined(K32S_STATIC)
#  if defined(K32S_BUILDING)
#    define K32S_API __declspec(dllexport)
#  else
#    define K32S_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define K32S_API __attribute__((visibility("default")))
#else
#  define K32S_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Platform identifiers GetVersionExA reports. */
#define K32S_PLATFORM_9X 1 /* Windows 9x family: VWIN32 */
#define K32S_PLATFORM_NT 2 /* Windows NT family: drive devices */

/* Puts a diskette image into the drive (0 = A:, 1 = B:), replacing the one
 * there: the drive then reports a media change. An image that can be
 * opened for reading only is a write-protected diskette. A refused
 * insertion leaves the drive as it was. */
K32S_API int16_t K32S_InsertDiskette(int16_t drive, const char *imagePath);
/* Takes the diskette out (closing its file); an empty drive stays empty. */
K32S_API int16_t K32S_EjectDiskette(int16_t drive);
/* The write-protect tab, and a drive that is not ready although it holds a
 * diskette. Each holds for the drive, whatever diskette goes in, until it
 * is set again or K32S_Reset. */
K32S_API int16_t K32S_SetWriteProtected(int16_t drive, int on);
K32S_API int16_t K32S_SetNotReady(int16_t drive, int on);
/* The disk change status will report a change once (as after a swap). */
K32S_API int16_t K32S_ReportMediaChange(int16_t drive);
/* The geometry query reports these values in place of the image's own
 * (all zero: the image's own again). Transfers still go to the image. */
K32S_API int16_t K32S_SetReportedGeometry(int16_t drive, uint32_t cylinders, uint32_t heads, uint32_t sectorsPerTrack,
                                          uint32_t bytesPerSector);
/* The platform identifier GetVersionExA reports: K32S_PLATFORM_9X,
 * K32S_PLATFORM_NT, or any other value (a platform of neither family, on
 * which neither VWIN32 nor the drive devices open). */
K32S_API void K32S_SetPlatform(uint32_t platformId);
/* Sector transfers fail: counting the sector reads and writes that would
 * reach a diskette from this call on (1 = the next one), the nth and the
 * count - 1 after it fail (count 0 or less: every one from the nth on) and
 * change nothing. nth 0 or less clears the failure. */
K32S_API void K32S_FailTransfer(int32_t nth, int32_t count);
/* Everything back to the start: both drives empty (their images closed,
 * their content kept), no write protection, ready, no changes pending,
 * the images' own geometry, the NT family, no failures. Handles already
 * handed out stay valid. */
K32S_API void K32S_Reset(void);

#ifdef __cplusplus
}
#endif

#endif
