/* Image-information library: tells the format of an image file from its
 * first bytes. C interface, linked at load time. */
#ifndef QORIMGIO_H_
#define QORIMGIO_H_

#ifdef _WIN32
#  define QORIMGIO_CALL __stdcall
#  ifdef QORIMGIO_BUILDING
#    define QORIMGIO_API __declspec(dllexport)
#  else
#    define QORIMGIO_API __declspec(dllimport)
#  endif
#else
#  define QORIMGIO_CALL
#  define QORIMGIO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Caller storage for one probe: 56 bytes, the path first. */
typedef struct ImageProbeRecord {
  const char* path; /* NUL-terminated, in the system ANSI code page */
  unsigned char reserved[56 - sizeof(const char*)];
} ImageProbeRecord;

/* Format codes that ProbeImageFile returns. */
enum {
  QORIMGIO_TIFF = 2,
  QORIMGIO_JPEG = 4,
  QORIMGIO_PNG = 7,
  QORIMGIO_GIF = 8,       /* known, not accepted by callers that want 2/4/7 */
  QORIMGIO_BMP = 9,
  QORIMGIO_UNKNOWN = 0,   /* readable, but no signature we know */
  QORIMGIO_TOO_SHORT = -1, /* fewer bytes than any signature needs */
  QORIMGIO_CANNOT_OPEN = -2,
  QORIMGIO_BAD_ARGUMENT = -3 /* null record or null path */
};

/* Fills the record with starting values (no path, reserved bytes zero). */
QORIMGIO_API void QORIMGIO_CALL InitImageProbe(ImageProbeRecord* record);

/* Opens record->path, reads at most 16 bytes and returns a format code. */
QORIMGIO_API short QORIMGIO_CALL ProbeImageFile(ImageProbeRecord* record);

#ifdef __cplusplus
}
#endif

#endif /* QORIMGIO_H_ */
