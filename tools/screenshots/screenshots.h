#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>

class ConfigHandler;
class QWidget;

// What a section gets: a handler connected to a database with sample rows (see
// sampledata.cpp for what is in it) and the folder for the pictures.
struct ScreenshotContext {
    ConfigHandler* handler = nullptr;
    QDir outDir;
    QStringList written;

    // Shows the widget offscreen, lets it lay itself out and writes <name>.png.
    bool save(QWidget* widget, const QString& name);
};

// A section renders some windows; it returns false when one could not be written.
using ScreenshotSection = std::function<bool(ScreenshotContext& context)>;
bool registerScreenshotSection(const char* name, const ScreenshotSection& section);

#define ORB_SCREENSHOT_SECTION(name, fn)                                                                     \
    static const bool orbScreenshotRegistered_##fn = registerScreenshotSection(name, fn)

// Runs fn on the next modal window that opens (for windows that a button opens with exec()).
void onNextModal(const std::function<void(QWidget* modal)>& fn);
