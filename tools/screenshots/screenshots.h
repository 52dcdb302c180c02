#pragma once

#include "db/confighandler.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

// What a section gets: a database with sample rows (see sampledata.cpp for what is in it)
// and the folder for the pictures.
struct ScreenshotContext {
    SqlConnectionSettings settings; // of the sample database
    QDir outDir;
    QStringList written;

    // A handler connected to the sample database and checked, made on first use; null when
    // that fails. ConfigHandlers share Qt's default connection, so only one may live at a
    // time: a section whose window makes its own handler calls dropHandler() first.
    ConfigHandler* handler();
    void dropHandler();

    // Shows the widget offscreen, lets it lay itself out and writes <name>.png.
    bool save(QWidget* widget, const QString& name);

private:
    std::unique_ptr<ConfigHandler> ownHandler;
};

// A section renders some windows; it returns false when one could not be written.
using ScreenshotSection = std::function<bool(ScreenshotContext& context)>;
bool registerScreenshotSection(const char* name, const ScreenshotSection& section);

#define ORB_SCREENSHOT_SECTION(name, fn)                                                                     \
    static const bool orbScreenshotRegistered_##fn = registerScreenshotSection(name, fn)

// Runs fn on the next modal window that opens (for windows that a button opens with exec()).
void onNextModal(const std::function<void(QWidget* modal)>& fn);
