// Windows metafiles as pictures: placeable and plain metafiles of the older
// kind (".wmf") and enhanced metafiles (".emf"), measured in pixels at 96
// dots per inch and drawn, scaled, onto a bitmap's canvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Graphics.h"
#include "MetafileRaster.h"

class TMetafile : public TGraphic {
    DECLARE_GRAPHIC_CLASS(TMetafile)
public:
    TMetafile() = default;

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Whether the picture is an enhanced metafile.
    bool Enhanced() const { return enhanced_; }

    // Reads the rest of the stream. A stream that holds no metafile, or one
    // whose records run past its end, raises EInvalidGraphic "Metafile is
    // not valid" and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the file as it was read.
    void SaveToStream(TStream& stream) const override;

    // Plays the records with the picture scaled onto rect; nothing is drawn
    // outside rect.
    void Draw(TCanvas& canvas, const TRect& rect) const override;

    // Whether the stream, from its position, starts like a metafile.
    static bool IsMetafile(TStream& stream);

private:
    void LoadWindowsMetafile(std::vector<uint8_t> data);
    void LoadEnhancedMetafile(std::vector<uint8_t> data);

    std::vector<uint8_t> data_;
    bool enhanced_ = false;
    size_t recordsOffset_ = 0;  // past a placeable header
    int width_ = 0, height_ = 0;
    // Older kind: the logical rectangle the picture covers, and for a
    // placeable file the window its records set first.
    TRect window_;
    std::optional<std::pair<TPointF, TPointF>> firstWindow_;
    // Enhanced: bounds in reference-device pixels, frame in hundredths of
    // a millimetre, and the reference device in pixels and millimetres.
    TRect bounds_, frame_;
    int devicePixelsX_ = 0, devicePixelsY_ = 0, deviceMmX_ = 0, deviceMmY_ = 0;
};

// Registers "wmf" ("Metafiles") and "emf" ("Enhanced Metafiles") with
// TPicture.
void RegisterMetafileFormats();
