#pragma once
// Metadata carried in JPEG application markers: the EXIF block of APP1 and the IPTC records of APP13.
// Every walk is bounds-checked against the block it is given; malformed data yields what could be read.
#include "imaging/params/IOParams.h"

#include <cstddef>
#include <cstdint>

// A TIFF-structured EXIF block (byte-order mark first, either order). Fills HasExifData, ExifData (the
// block), ExifXResolution, ExifYResolution, ExifResolutionUnit, ExifOrientation and the EXIF texts
// from the first IFD. Returns false, touching nothing, when the TIFF header is not valid.
bool ReadExifTiffBlock(const std::uint8_t* data, std::size_t size, TIOParamsVals& Params);

// The payload of an APP1 marker: "Exif" and two zero bytes, then the TIFF-structured block.
bool ReadExifApp1(const std::uint8_t* data, std::size_t size, TIOParamsVals& Params);

// The first APP1 marker of the list whose EXIF block reads.
bool ReadExifFromMarkers(const TIEMarkerList& Markers, TIOParamsVals& Params);

// IPTC datasets (0x1C, record, dataset, length, data; as TIFF tag 33723 holds them). Each dataset is
// appended as one block: record number, dataset number, then the data. Returns the datasets added.
std::size_t ReadIptcDatasets(const std::uint8_t* data, std::size_t size, TIEIPTCInfoList& List);

// The IPTC resource (id 0x0404) of every APP13 "Photoshop 3.0" marker of the list, in file order.
std::size_t ReadIptcFromMarkers(const TIEMarkerList& Markers, TIEIPTCInfoList& List);
