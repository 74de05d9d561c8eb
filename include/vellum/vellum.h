/*
 * libvellum: read and write BLP textures.
 *
 * A BLP file holds one texture as a chain of up to 16 mipmap levels. Level k measures
 * max(1, width >> k) x max(1, height >> k). Levels are stored as JPEG streams that share
 * one header block, as 8-bit palette indices with an alpha plane of 0, 1, 2, 4 or 8 bits,
 * as DXT1, DXT3 or DXT5 blocks, or as raw BGRA pixels.
 *
 *   vellum_file *f;
 *   if (vellum_open_file("Stone.blp", &f) != VELLUM_OK) ...
 *   vellum_info info;
 *   vellum_get_info(f, &info);
 *   uint8_t *rgba = malloc((size_t)info.width * info.height * 4);
 *   vellum_damage damage;
 *   int status = vellum_decode_level(f, 0, VELLUM_LAYOUT_RGBA, rgba, info.width * 4, &damage);
 *   if (status < 0) fprintf(stderr, "%s\n", damage.message[0] ? damage.message : vellum_status_text(status));
 *   vellum_close(f);
 *
 * Conventions
 * - Every function that can fail returns a vellum_status: VELLUM_OK (0), VELLUM_WARNING (1:
 *   done, the file had damage that was repaired without losing pixels), or a negative error.
 * - Rows are numbered from the top. A pixel buffer is `height` rows of width *
 *   vellum_layout_bytes(layout) bytes; row y starts at pixels + y * stride. The stride may
 *   exceed the row, and it may be negative for memory that holds the bottom row first.
 * - Nothing is kept in global state. Calls on distinct handles may run on any number of
 *   threads at once; one handle must not be used by two threads at the same time.
 * - No C++ exception, signal or longjmp leaves the library; allocation failures give
 *   VELLUM_ERR_NO_MEMORY.
 * - Memory the library allocates for the caller is released with vellum_free.
 */
#ifndef VELLUM_VELLUM_H
#define VELLUM_VELLUM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VELLUM_API
#else
#define VELLUM_API __attribute__((visibility("default")))
#endif

/* ---------------------------------------------------------------------------------------
 * Results
 */

typedef enum vellum_status {
  VELLUM_OK = 0,
  VELLUM_WARNING = 1,               /* done; the file had damage that was repaired */
  VELLUM_ERR_DAMAGED = -1,          /* the level is damaged; the buffer holds what could be
                                       recovered and vellum_damage says what was wrong */
  VELLUM_ERR_ARGUMENT = -2,         /* a null pointer, a value out of range, or a layout
                                       the level cannot be delivered in */
  VELLUM_ERR_NOT_BLP = -3,          /* the signature is not "BLP0", "BLP1" or "BLP2" */
  VELLUM_ERR_TRUNCATED = -4,        /* the file is too short to hold a header and an image */
  VELLUM_ERR_DIMENSIONS = -5,       /* width or height outside 1..32768 */
  VELLUM_ERR_UNSUPPORTED = -6,      /* a storage or compression kind the library does not know */
  VELLUM_ERR_NO_LEVEL = -7,         /* the mipmap level is not stored in the file */
  VELLUM_ERR_MALFORMED = -8,        /* the file's structure is inconsistent (a paletted level
                                       that starts inside the header) */
  VELLUM_ERR_TOO_LARGE = -9,        /* over the handle's max_pixels, or not addressable here */
  VELLUM_ERR_NO_MEMORY = -10,
  VELLUM_ERR_IO = -11,              /* a file could not be opened or read */
  VELLUM_ERR_FILE_TOO_LARGE = -12,  /* encoding: the file would pass the 4 GiB offsets */
  VELLUM_ERR_OUTPUT = -13,          /* encoding: the write callback reported a failure */
  VELLUM_ERR_CANCELLED = -14        /* encoding: the progress callback asked to stop */
} vellum_status;

/* A short English text for a status ("not a BLP file (signature is not BLP0, BLP1 or
 * BLP2)"). Never null; the text is static. */
VELLUM_API const char *vellum_status_text(int status);

/* The library's version, "MAJOR.MINOR.PATCH", and the same as one number
 * (MAJOR * 10000 + MINOR * 100 + PATCH). */
VELLUM_API const char *vellum_version(void);
VELLUM_API int vellum_version_number(void);

/* ---------------------------------------------------------------------------------------
 * Damage
 *
 * A decode reports what was wrong with the level. Errors lost pixels (the decode returns
 * VELLUM_ERR_DAMAGED and the buffer holds what could be recovered, the rest zero bytes or,
 * for JPEG, flat blocks); warnings were repaired without loss (VELLUM_WARNING). Paletted,
 * DXT and raw levels carry no check of their bytes: only their place in the file can be
 * found wrong. JPEG data is checked as it is decoded.
 */

#define VELLUM_DAMAGE_PAST_END         0x0001u /* error: the level runs past the end of the file */
#define VELLUM_DAMAGE_SHORT_LEVEL      0x0002u /* error: the level is shorter than its content */
#define VELLUM_DAMAGE_JPEG_TRUNCATED   0x0004u /* error: the JPEG data ends early */
#define VELLUM_DAMAGE_JPEG_CORRUPT     0x0008u /* error: corrupt entropy-coded data */
#define VELLUM_DAMAGE_JPEG_TABLES      0x0010u /* error: a table or frame header the data needs is missing */
#define VELLUM_DAMAGE_JPEG_TIME_BOUND  0x0020u /* error: the decoder's work bound ended the decode */
#define VELLUM_DAMAGE_JPEG_MARKERS     0x0100u /* warning: markers out of place, skipped */
#define VELLUM_DAMAGE_JPEG_NO_END      0x0200u /* warning: a complete image without its end marker */
#define VELLUM_DAMAGE_ERRORS           0x00FFu
#define VELLUM_DAMAGE_WARNINGS         0xFF00u

typedef struct vellum_damage {
  uint32_t flags;          /* VELLUM_DAMAGE_* */
  uint32_t level;          /* the level the report is about */
  uint64_t blocks_decoded; /* JPEG: 8 x 8 blocks decoded before the data ended or broke */
  uint64_t blocks_total;   /* JPEG: 8 x 8 blocks of the level; 0 for other content */
  char message[160];       /* one line, "" when undamaged, for instance "JPEG data ends
                              after 412 of 16384 blocks" or "level 0 runs past the end of
                              the file"; several findings are joined with "; " */
} vellum_damage;

/* ---------------------------------------------------------------------------------------
 * Opening and describing a file
 */

typedef struct vellum_file vellum_file;

/* Opens a BLP file held in memory. The bytes are not copied: they must stay unchanged
 * until vellum_close. Checks the header (signature, sides 1..32768, storage kind, more than
 * 160 bytes); on failure *file is set to null. */
VELLUM_API int vellum_open_memory(const void *data, size_t size, vellum_file **file);

/* Opens a BLP file on disk (a UTF-8 path; on Windows converted to UTF-16). The file stays
 * open until vellum_close; levels are read from it as they are decoded. */
VELLUM_API int vellum_open_file(const char *path, vellum_file **file);

/* Closes the handle and releases everything it holds. Null is allowed. */
VELLUM_API void vellum_close(vellum_file *file);

/* Refuses to decode levels of more than max_pixels pixels (VELLUM_ERR_TOO_LARGE) before
 * anything is allocated. 0, the default, means no limit beyond the format's 32768 x 32768. */
VELLUM_API int vellum_set_max_pixels(vellum_file *file, uint64_t max_pixels);

typedef enum vellum_content {
  VELLUM_CONTENT_JPEG = 0,      /* JPEG levels with a shared header */
  VELLUM_CONTENT_PALETTED = 1,  /* 256-colour palette, indices, alpha plane */
  VELLUM_CONTENT_DXT1 = 2,      /* DXT1 blocks (cut-out alpha when alpha_depth is not 0) */
  VELLUM_CONTENT_DXT3 = 3,
  VELLUM_CONTENT_DXT5 = 4,
  VELLUM_CONTENT_RAW = 5        /* 32-bit BGRA pixels */
} vellum_content;

typedef enum vellum_layout {
  VELLUM_LAYOUT_INDICES = 0,       /* 1 byte a pixel: palette index (paletted levels only) */
  VELLUM_LAYOUT_INDICES_ALPHA = 1, /* 2 bytes: palette index, alpha (paletted levels only) */
  VELLUM_LAYOUT_RGB = 2,           /* 3 bytes: red, green, blue */
  VELLUM_LAYOUT_RGBA = 3,          /* 4 bytes: red, green, blue, alpha */
  VELLUM_LAYOUT_BGRA = 4           /* 4 bytes: blue, green, red, alpha */
} vellum_layout;

/* Bytes a pixel of a layout: 1, 2, 3 or 4; 0 for an unknown layout. */
VELLUM_API uint32_t vellum_layout_bytes(int layout);

typedef enum vellum_level_state {
  VELLUM_LEVEL_STORED = 0,   /* the level has data of its own */
  VELLUM_LEVEL_ABSENT = 1,   /* offset and size 0, or past the 1 x 1 level */
  VELLUM_LEVEL_REPEATED = 2, /* the entry repeats the one before: the writer stopped the
                                chain early, and the level is the previous one's data */
  VELLUM_LEVEL_EMPTY = 3     /* an offset with a size of 0 */
} vellum_level_state;

typedef struct vellum_level_info {
  uint32_t width, height;    /* the level's sides */
  uint32_t offset, size;     /* the table entry as stored */
  int32_t state;             /* vellum_level_state */
  int32_t layout;            /* vellum_layout the level holds: INDICES (paletted, opaque),
                                INDICES_ALPHA (paletted with alpha), RGB or RGBA */
  uint32_t damage;           /* VELLUM_DAMAGE_PAST_END / VELLUM_DAMAGE_SHORT_LEVEL found from
                                the table and the file's length, without decoding */
} vellum_level_info;

typedef struct vellum_info {
  char signature[5];         /* "BLP0", "BLP1" or "BLP2", terminated */
  int32_t content;           /* vellum_content */
  uint32_t alpha_depth;      /* as stored: 0 or 8 for "BLP0"/"BLP1"; the alphaDepth byte of
                                "BLP2" */
  uint32_t alpha_bits;       /* alpha bits a pixel of level 0 decodes with: 0 (opaque), 1,
                                2, 4 or 8 */
  uint32_t width, height;    /* level 0 */
  uint32_t level_count;      /* levels stored from level 0 on (entries in state STORED,
                                counted until the first that is not) */
  uint32_t chain_length;     /* levels of a full chain down to 1 x 1 (at most 16) */
  int32_t layout;            /* vellum_layout level 0 holds, as in vellum_level_info */
  uint32_t jpeg_header_size; /* JPEG content: bytes of the shared header; else 0 */
  uint64_t file_size;
  const char *content_name;  /* "JPEG", "paletted", "DXT1", "DXT3", "DXT5" or "raw" */
} vellum_info;

VELLUM_API int vellum_get_info(const vellum_file *file, vellum_info *info);

/* One entry of the mipmap table, 0..15. */
VELLUM_API int vellum_get_level_info(const vellum_file *file, uint32_t level, vellum_level_info *info);

/* The 256 palette entries of a paletted file as red, green, blue and the fourth byte as
 * stored (BLP writers leave it 0 or 255; it is not the alpha). VELLUM_ERR_ARGUMENT when the
 * file is not paletted. */
VELLUM_API int vellum_get_palette(const vellum_file *file, uint8_t palette[1024]);

/* ---------------------------------------------------------------------------------------
 * Decoding
 */

/* Decodes mipmap level `level` (0..15) into `pixels` in `layout`.
 * INDICES and INDICES_ALPHA are for paletted levels; every level can be had as RGB, RGBA
 * and BGRA (RGB drops the alpha; the alpha of an opaque level is 255).
 * Returns VELLUM_OK, VELLUM_WARNING, VELLUM_ERR_DAMAGED (the buffer holds what could be
 * recovered), or an error before anything was written: VELLUM_ERR_NO_LEVEL for an entry
 * that holds no level of its own, VELLUM_ERR_TOO_LARGE, VELLUM_ERR_NO_MEMORY ...
 * `damage` may be null; when given it is always filled. */
VELLUM_API int vellum_decode_level(vellum_file *file, uint32_t level, int layout, void *pixels,
                                   ptrdiff_t stride, vellum_damage *damage);

/* Thumbnails: the smallest stored level whose longer side is at least `side` (level 0
 * when none is), scaled down with a box filter so that its longer side is at most `side`
 * (the other side in proportion, rounded, at least 1). Levels no larger than `side` are
 * delivered as they are. */
VELLUM_API int vellum_thumbnail_size(const vellum_file *file, uint32_t side, uint32_t *level,
                                     uint32_t *width, uint32_t *height);

/* Writes the thumbnail that vellum_thumbnail_size describes, in RGB, RGBA or BGRA.
 * Results as for vellum_decode_level; width and height (may be null) receive its size. */
VELLUM_API int vellum_thumbnail(vellum_file *file, uint32_t side, int layout, void *pixels,
                                ptrdiff_t stride, uint32_t *width, uint32_t *height,
                                vellum_damage *damage);

/* ---------------------------------------------------------------------------------------
 * Encoding
 */

typedef enum vellum_content_type {
  VELLUM_BLP1_JPEG = 0,       /* "BLP1 JPEG" */
  VELLUM_BLP1_PALETTED = 1,   /* "BLP1 Paletted" */
  VELLUM_BLP2_JPEG = 2,       /* "BLP2 JPEG" */
  VELLUM_BLP2_PALETTED8 = 3,  /* "BLP2 Paletted 8-bit alpha" */
  VELLUM_BLP2_DXT = 4,        /* "BLP2 DirX Compress": DXT1, or DXT5 with alpha */
  VELLUM_BLP2_PALETTED4 = 5,  /* "BLP2 Paletted 4-bit alpha" */
  VELLUM_BLP2_PALETTED1 = 6   /* "BLP2 Paletted 1-bit alpha" */
} vellum_content_type;

typedef enum vellum_quantizer {
  VELLUM_NEUQUANT100 = 0,     /* "NeuQuant 100" */
  VELLUM_NEUQUANT128 = 1,     /* "NeuQuant 128" */
  VELLUM_DL3_FAST = 2,        /* "Dennis Lee3 fast" */
  VELLUM_DL3_SLOW = 3,        /* "Dennis Lee3 slow" */
  VELLUM_MEDIANCUT = 4        /* "Mediancut" */
} vellum_quantizer;

/* A progress report while encoding: percent of the work done (0..100). Return 0 to stop
 * the encode (VELLUM_ERR_CANCELLED), anything else to go on. */
typedef int (*vellum_progress_fn)(void *context, uint32_t percent);

typedef struct vellum_encode_options {
  int32_t content_type;      /* vellum_content_type; default VELLUM_BLP1_JPEG */
  int32_t quality;           /* JPEG quality 1..100; default 100 */
  int32_t progressive;       /* progressive JPEG (levels of at least 4096 pixels); default 0 */
  int32_t quantizer;         /* palette builder for true-colour sources; default NeuQuant 100 */
  int32_t max_levels;        /* 1..16 mipmap levels at most, level 0 included; default 16 */
  vellum_progress_fn progress;  /* may be null */
  void *progress_context;
} vellum_encode_options;

/* The Save Options dialog's defaults (options word 0x10000064). */
VELLUM_API void vellum_encode_defaults(vellum_encode_options *options);

/* The packed options word of the Save Options dialog: bits 0-7 quality, 8-11 content type,
 * 12 progressive, 16-23 quantizer, 24-31 level count. Unpacking fails with
 * VELLUM_ERR_ARGUMENT for a word with a field out of range. */
VELLUM_API int vellum_options_from_word(uint32_t word, vellum_encode_options *options);
VELLUM_API uint32_t vellum_options_word(const vellum_encode_options *options);

/* A source image.
 * - RGB, RGBA, BGRA: true colour. A palette is built by the quantizer for paletted content.
 *   With has_alpha 0 an RGBA or BGRA source is saved opaque.
 * - INDICES, INDICES_ALPHA: an indexed source with its own palette (palette_count entries of
 *   red, green, blue, alpha); paletted content keeps that palette, no quantizer runs. Grey
 *   images are indexed sources with a grey ramp. INDICES takes its alpha from the palette's
 *   fourth bytes when has_alpha is set (a PNG palette with transparency); INDICES_ALPHA
 *   carries an alpha byte per pixel and always has alpha.
 * The same pixels and options give the same bytes on every build and every host. */
typedef struct vellum_image {
  uint32_t width, height;    /* 1..32768 each */
  int32_t layout;            /* vellum_layout */
  const void *pixels;
  ptrdiff_t stride;          /* bytes from one row to the next; 0: the rows are packed */
  const uint8_t *palette;    /* indexed layouts: palette_count x (red, green, blue, alpha) */
  uint32_t palette_count;    /* 1..256 */
  int32_t has_alpha;
} vellum_image;

/* Writes `count` bytes of the file; returns nonzero on success. Called in order, once or
 * more, only after the whole file has been built: a failed encode writes nothing. */
typedef int (*vellum_write_fn)(void *context, const void *bytes, size_t count);

/* Encodes `image` as a BLP file. Give either `write` (with its context) or `out` and
 * `out_size`, which receive a buffer the library allocated (release with vellum_free).
 * `options` may be null for the defaults. */
VELLUM_API int vellum_encode(const vellum_image *image, const vellum_encode_options *options,
                             vellum_write_fn write, void *write_context, void **out,
                             size_t *out_size);

/* Releases memory the library allocated for the caller. Null is allowed. */
VELLUM_API void vellum_free(void *memory);

#ifdef __cplusplus
}
#endif

#endif /* VELLUM_VELLUM_H */
