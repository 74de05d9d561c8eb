// The images `vellum encode` reads, chosen by their content: PNG (libspng), JPEG
// (libjpeg-turbo, accurate integer DCT), WebP (libwebp), BMP and TGA (stb_image). DDS files
// take their own path (dds_io.h). Each reader fills an InputPicture (png_io.h) the way the
// PNG reader does: grey images as indices of the grey ramp, everything else as true colour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/png_io.h"

namespace vellum::cli {

enum class InputKind { Png, Jpeg, Webp, Bmp, Tga, Dds, Unknown };

// "PNG", "JPEG" ...
const char* inputKindName(InputKind kind);

// The kind by the first bytes; TGA has no signature, so a file that matches nothing else
// and is named *.tga is taken as TGA.
InputKind sniffInput(const uint8_t* head, size_t size, const std::string& path);

// The extensions -r picks up for encode.
bool hasInputExtension(const std::string& name);

// Reads a whole file into memory (refusing folders and files above 4 GiB).
int readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Decodes an image held in memory. The size is checked against maxPixels before the pixels
// are allocated. Returns an exit code, with the reason in *error.
int readImageMemory(const uint8_t* data, size_t size, InputKind kind, uint64_t maxPixels, InputPicture* picture,
                    std::string* error);

// The readers behind it (each checks its own format's header first).
int readPngMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error);
int readJpegMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error);
int readWebpMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error);
int readStbMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error);

// Shared by the readers: the size check and the allocation of 4 bytes a pixel.
int allocatePicture(uint32_t width, uint32_t height, uint64_t maxPixels, InputPicture* picture, std::string* error);
// Makes the picture an indexed one over the grey ramp (256 entries).
void useGreyRamp(InputPicture* picture);

}  // namespace vellum::cli
