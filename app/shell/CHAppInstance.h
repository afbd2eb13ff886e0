#pragma once
// The start-up shared by the windowed and the headless program: settings
// file from the command-line document, the first document (the command
// line's, else the last one when OpenMruDocument is on, else a new one), the
// engine and its first initial update, and, when windowed, the main frame
// with its splash and the saved window rectangle. The window is the only
// difference between the two.
#include "pcapng.h"
#include "CHSettingsFile.h"

#include <QString>

#include <memory>

class CTovikarApp;

namespace tovik {

class CHLogStreamWriter;
class CHRecording;
class CHScriptEngine;
class CMainFrame;
class CTovikarDoc;
class CTovikarView;

struct CHStartOptions {
    QString documentPath;     // the command line's document, or empty
    QString scriptPath;       // the command line's reply script, or empty
    QString faultsPath;       // the command line's fault rules, or empty
    bool windowed = false;    // the main frame; needs a QApplication
    bool splash = false;      // the start-up picture (windowed only)
    bool logToStdout = false; // every event-log line on standard output
    bool keepGoing = false;   // headless: run on when the start cannot open a port
    QString api;              // --api [ADDRESS:]PORT, or empty for the settings' [Api] values
    QString apiTokenFile;     // --api-token-file FILE, or empty
    QList<SettingOverride> overrides; // --set: over the settings file, never saved
    QString executablePath;   // empty: the running program (tests give their own)
    QString userConfigDir;    // empty: the user's configuration folder
    // Recording proxy: the folder the recording goes to, the equipment's
    // HOST:PORT, and whether files already there may be replaced.
    QString recordDir;
    QString upstreamHost;
    int upstreamPort = 0;
    bool force = false;
    QString capturePath; // --capture FILE, or empty
};

class CHAppInstance {
public:
    explicit CHAppInstance(CHStartOptions options);
    ~CHAppInstance();
    CHAppInstance(const CHAppInstance&) = delete;
    CHAppInstance& operator=(const CHAppInstance&) = delete;

    // Runs the start-up; false when the command line's document cannot be
    // opened or not even a new document could be made.
    bool InitInstance();
    // Writes what the log still holds (the headless end; a closing frame
    // saved its state). The ports are left to close with the process.
    void ExitInstance();
    // The exit status of a start-up that failed: 2 for bad fault rules, else 1.
    int FailureCode() const { return m_failureCode; }
    // The headless reload: reads the document from its file and the settings
    // file again; ports whose values did not change keep their connections.
    void Reload();
    // Writes the recording's files (a recording run only); false with the
    // reason told on the log.
    bool WriteRecording();
    // Writes the files and switches the ports off: the recording is over.
    void StopRecording();
    bool IsRecording() const { return m_recording && !m_recordingStopped; }

    CTovikarApp& App() { return *m_app; }
    CTovikarDoc& Doc() { return *m_doc; }
    CTovikarView& View() { return *m_view; }
    CMainFrame* Frame() { return m_frame.get(); }
    CHScriptEngine& Script() { return *m_script; }
    // The document the start-up tried to open: the command line's, or the
    // last one; empty when it began with a new document on purpose.
    const QString& StartDocument() const { return m_startDocument; }

private:
    void attachFileLog();
    bool loadFaults();

    CHStartOptions m_options;
    std::unique_ptr<CTovikarApp> m_app;
    std::unique_ptr<CTovikarDoc> m_doc;
    std::unique_ptr<CTovikarView> m_view;
    std::unique_ptr<CHLogStreamWriter> m_stdout;
    std::unique_ptr<CHScriptEngine> m_script;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CHRecording> m_recording;
    bool m_recordingStopped = false;
    std::unique_ptr<capture::PcapngWriter> m_capture;
    QString m_startDocument;
    bool m_ownsTheApp = false;
    int m_failureCode = 1;
};

} // namespace tovik
