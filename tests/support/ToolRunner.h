// Runs quasel-tool as a separate process, as a user would, and collects what it printed.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

struct ToolRun {
    int exitCode = -1;    // the tool's exit status; -1 when it crashed or did not finish
    QByteArray out, err;  // standard output and standard error
};

// Runs `quasel-tool args...` with `environment` set on top of the test's own, waiting at most
// `timeoutMs` (the process is killed after that).
inline ToolRun runTool(const QStringList& args, const QProcessEnvironment& environment = {},
                       int timeoutMs = 60000) {
    QProcess p;
    if (!environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(environment);
        p.setProcessEnvironment(env);
    }
    p.start(QUASEL_TOOL_PATH, args);
    ToolRun run;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    if (p.exitStatus() == QProcess::NormalExit) run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// The JSON object `quasel-tool args... --json` printed; its exit status must be `exitCode`.
inline QJsonObject runToolJson(const QStringList& args, int exitCode = 0,
                               const QProcessEnvironment& environment = {}) {
    const ToolRun run = runTool(args + QStringList{"--json"}, environment);
    EXPECT_EQ(run.exitCode, exitCode) << run.err.toStdString();
    return QJsonDocument::fromJson(run.out).object();
}
