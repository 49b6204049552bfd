#pragma once

#include <QByteArray>
#include <QRgb>
#include <vector>

namespace korvinet::testing {

// A JPEG as libjpeg itself reads it (not the encoder's own helpers), so the
// tests check what any other program would see in our files.
struct DecodedJpeg {
    bool ok = false;
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    std::vector<unsigned char> rgb; // width * height RGB triples

    QRgb Pixel(int x, int y) const {
        const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return qRgb(p[0], p[1], p[2]);
    }
};

// ok is false for empty or broken data.
DecodedJpeg DecodeJpeg(const QByteArray& bytes);

} // namespace korvinet::testing
