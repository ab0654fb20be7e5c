// quasel-tool: the developers' command-line companion. Each command lives in its own file.
#pragma once

#include "Image.h"
#include "RawFrame.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// Each command takes the arguments after its name and returns the process exit code.
int runInfo(const QStringList& args);
int runRender(const QStringList& args);
int runProbe(const QStringList& args);
int runStars(const QStringList& args);
int runDrift(const QStringList& args);

// Loads a file as the viewer does (format from the extension); nullptr when unreadable.
ImagePtr loadImageFile(const QString& path, QString* error);
// HDU `hdu` of a loaded file, numbered as FITS numbers them (0 the primary, 1 the first
// extension; a file of another format is HDU 0); nullptr when the file has no such HDU or its
// reader could not read it.
ImagePtr imageOfHdu(const ImagePtr& file, int64_t hdu);
// The first HDU of a loaded file that has a picture (the primary first); nullptr when none has.
ImagePtr firstPicture(const ImagePtr& file);
// The numbers of the HDUs of a loaded file that have a picture, as "1, 2, 3"; empty when none.
QString hdusWithPicture(const Image& file);
// The fields of an Image (and of its children) as one JSON object.
QJsonObject describeImage(Image& image);
// A pattern given by name (raw, rggb, gbrg, grbg, bggr) or by its numeric code; nothing when
// the text is neither.
std::optional<int64_t> parsePattern(const QString& text);
// Loads a file and sees its picture (of the first HDU that has one) as a raw frame of the
// support library as the star probe does; nothing (with a message on standard error) when
// either fails. `image` keeps the pixels.
std::optional<RawFrameView> loadRawFrame(const QString& path, ImagePtr& image);
// The four characters of a raw type code, e.g. "RAW2".
QString rawTypeName(solvan_raw_type type);
// Reads the integer after the option at args[i] (advancing i) into *value, when it is one and
// at least `least`; false otherwise.
bool optionValue(const QStringList& args, qsizetype& i, int least, int* value);
// Writes text to standard output / standard error.
void printOut(const QString& text);
void printErr(const QString& text);
