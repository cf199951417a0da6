#pragma once
// Format ids shared by the format table, FileFormat and format detection.
enum TIOFileFormat : int {
    ioUnknown = 0,
    ioTIFF = 1,
    ioGIF = 2,
    ioJPEG = 3,
    ioPCX = 4,
    ioBMP = 5,
    ioICO = 6,
    ioCUR = 7,
    ioPNG = 8,
    ioWMF = 9,
    ioEMF = 10,
    ioTGA = 11,
    ioPXM = 12,
    ioJP2 = 13,
    ioJ2K = 14,
    ioAVI = 15,
    ioWBMP = 16,
    ioPS = 17,
    ioPDF = 18
};

// Process-wide default resolutions, stored by readers when a file states none (a value below 2).
extern int DefaultDpiX;
extern int DefaultDpiY;
