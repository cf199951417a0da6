#pragma once
// The file list's texts and tests, kept apart from the widgets: the numbered display entry, the
// accepted extensions of dropped files and the open dialog's filter.
#include <QString>
#include <QStringList>

#include <string>
#include <utility>
#include <vector>

// Searched as one text: a dropped file is taken when its extension occurs anywhere in it, so a
// part of a listed extension (".ti", ".jp") passes too.
inline constexpr char AcceptedDropExtensions[] =
    ".tif.tiff.fax.g3n.g3f.gif.jpg.jpeg.jpe.pcx.bmp.dib.rle.ico.png.wmf.emf.tga.targa.vda.icb.vst.pix.pxm."
    "ppm.pgm.pbm.wbmp.jp2.j2k.jpc.j2c";

// The part of the path after the last "/".
QString FileNameOf(const QString& path);
// Whether a list entry is a web address (http or https, any case) rather than a local path.
bool IsWebEntry(const QString& entry);
// What the list shows of an entry: the file name of a path; for a web address the last component of
// its path, without query or fragment (the host when the path ends in "/").
QString EntryName(const QString& entry);
// "<position>.  <entry name>", position 1-based.
QString DisplayEntry(int position, const QString& path);
// The extension from the last "." with the dot, lower-cased in ASCII only (a non-ASCII letter must
// not fold into a listed extension); empty when the path has no ".".
QString DropExtension(const QString& path);
bool IsAcceptedDropFile(const QString& path);

// Why a dropped path is not added to the list. A web address is always taken: what it serves is
// known only once it is downloaded.
enum class TDropRefusal { None, Folder, UnsupportedType };
TDropRefusal DropRefusal(const QString& path, bool isFolder);
// One line for the status bar naming what a drop left out, or empty when nothing was.
QString NotAddedMessage(const std::vector<std::pair<QString, TDropRefusal>>& refused);

// For each path: whether another listed path has the same entry name (its entry then needs the full
// path to be told apart).
std::vector<bool> RepeatedNames(const QStringList& paths);
// The open dialog's filter: description and patterns, all separated by "|" (UTF-8). With allFiles, an
// entry for every file follows the image types.
std::string OpenDialogFilter(bool allFiles = false);
