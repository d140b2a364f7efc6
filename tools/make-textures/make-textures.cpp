// Writes the sample textures: make-textures [folder] (default "assets").
#include <cstdio>
#include <exception>
#include <string>

#include "BrickTextures.h"

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "assets";
    const int side = 256;
    try {
        const TBrickLayout layout;
        const THeightField field = BrickHeights(side, side, layout);
        BrickColors(field, layout).SaveToFile(folder + "/bricks.bmp");
        NormalMap(field).SaveToFile(folder + "/bricks_normal.bmp");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-textures: %s\n", error.what());
        return 1;
    }
    std::printf("Wrote %s/bricks.bmp and %s/bricks_normal.bmp\n", folder.c_str(), folder.c_str());
    return 0;
}
