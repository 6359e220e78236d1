/* cardfs — export macro shared by every public header.
 *
 * Every exported function carries CARDFS_API: dllexport when the library
 * itself is built on Windows, dllimport for a Windows host, default
 * visibility elsewhere (the library is built with hidden visibility, so
 * nothing else leaves it). Define CARDFS_STATIC when linking the static
 * library on Windows. */
#ifndef CARDFS_EXPORT_H
#define CARDFS_EXPORT_H

#if defined(_WIN32) && !defined(CARDFS_STATIC)
#  if defined(CARDFS_BUILDING)
#    define CARDFS_API __declspec(dllexport)
#  else
#    define CARDFS_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define CARDFS_API __attribute__((visibility("default")))
#else
#  define CARDFS_API
#endif

#ifdef __cplusplus
#  define CARDFS_BEGIN_DECLS extern "C" {
#  define CARDFS_END_DECLS }
#else
#  define CARDFS_BEGIN_DECLS
#  define CARDFS_END_DECLS
#endif

#endif
