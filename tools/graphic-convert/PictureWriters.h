// The files graphic-convert writes: PNG, portable arbitrary maps, Windows
// bitmaps and Targa, chosen by the output's extension.
#pragma once

#include <string>

#include "Classes.h"
#include "Graphics.h"

// Whether extension (with its period, any case) names a format written here.
bool CanWrite(const std::string& extension);

// The picture encoded in the format extension names. Raises
// EInvalidGraphicOperation "Cannot write \"%s\" files" for other extensions.
TMemoryStream EncodePicture(const TGraphic& graphic, const std::string& extension);

// Writes the bytes to fileName. Without overwrite an existing file is left
// alone and EWriteError "%s already exists" raised; a file that could not
// be written whole is removed.
void SaveBytes(TMemoryStream& bytes, const std::string& fileName, bool overwrite);
