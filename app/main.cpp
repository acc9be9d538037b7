// pelvar: the control panel of the camera board.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>

#include "app/DemoBoard.h"
#include "app/PelvarApp.h"

namespace {

const char kUsage[] = "usage: pelvar [--demo [--headless] [--output FILE]] [Qt options]\n"
                      "\n"
                      "The control panel of the camera board. Connect tries every serial port until\n"
                      "the board answers (see pelvarctl(1) for the port naming rule).\n"
                      "\n"
                      "  --demo           start a simulated board inside the process, attached as\n"
                      "                   COM200 in a private port directory, and open the panel\n"
                      "  --headless       with --demo: no window; connect, set brightness 200, press\n"
                      "                   edge, write and read a register, disconnect, print each\n"
                      "                   step and save a picture of the panel\n"
                      "  --output FILE    where --headless saves the picture\n"
                      "                   (default: pelvar-demo-panel.png in the temporary directory)\n"
                      "  --help           this text\n"
                      "  --version        the version\n";

struct Options {
    bool help = false;
    bool version = false;
    bool demo = false;
    bool headless = false;
    std::string output;
    std::string error;
};

// Our own options start with two dashes; Qt's (-platform, -style ...) with
// one, and QApplication takes those out of argv itself later.
Options ParseOptions(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version("version");
    const QCommandLineOption demo("demo");
    const QCommandLineOption headless("headless");
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    parser.addOptions({help, version, demo, headless, output});

    Options o;
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        for (const QString& name : unknown) {
            if (args.contains("--" + name) || args.filter(QRegularExpression("^--" + name + "=")).size())
                o.error = "unknown option '--" + name.toStdString() + "'";
        }
        if (unknown.isEmpty()) // a value missing after --output
            o.error = parser.errorText().toStdString();
    }
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    o.demo = parser.isSet(demo);
    o.headless = parser.isSet(headless);
    o.output = parser.value(output).toStdString();
    if (o.error.empty() && o.headless && !o.demo)
        o.error = "--headless goes with --demo";
    return o;
}

std::string DefaultPicturePath()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/pelvar-demo-panel.png";
}

} // namespace

int main(int argc, char** argv)
{
    Options o = ParseOptions(argc, argv);
    if (!o.error.empty()) {
        std::fprintf(stderr, "pelvar: %s (see pelvar --help)\n", o.error.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (o.version) {
        std::printf("pelvar %s\n", PELVAR_VERSION);
        return 0;
    }
    if (o.headless)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Started before the window so that its port list holds the board.
    pelvar::CDemoBoard demo;
    if (o.demo && !demo.Start()) {
        std::fprintf(stderr, "pelvar: simulated board: %s\n", demo.ErrorText().c_str());
        return 1;
    }

    pelvar::CPelvarApp app(argc, argv);
    if (o.headless)
        return app.RunHeadlessDemo(demo, o.output.empty() ? DefaultPicturePath() : o.output);
    app.InitInstance(o.demo ? &demo : nullptr);
    return 0;
}
