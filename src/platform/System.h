#pragma once

#include <QString>

#include <functional>

class QDialog;

namespace store {
class Store;
}

namespace platform {

class UserPrompts;
class Processes;
class TopLevelWindows;
class ServiceManager;

// The parts of the system the windows talk to, built once in main (tests build it from fakes
// and a temporary store) and handed to the main window and its pages.
struct System
{
    store::Store &store;
    UserPrompts &prompts;
    Processes &processes;
    TopLevelWindows &windows;
    ServiceManager &services;
    // The folder of the program's own executable, without a trailing separator.
    QString programFolder;
    // Shows a dialog modally and returns its result; exec() unless a test drives the dialog.
    std::function<int(QDialog &)> runModal;
    // The settings store's file; the monitor keeps its log in the same folder.
    QString storePath = {};
};

} // namespace platform
