// lumiclip-serve's faces besides /capture: its page for people, tried in the real browser; its
// options and --check-config; and the Kubernetes manifest of the documentation, whose arguments it
// must take.
#include "serve_fixture.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

class ServeProgram : public ::testing::Test {
protected:
    // Runs lumiclip-serve (or the tool) to its end; its status, or -1.
    int run(const QString& program, const QStringList& args, QByteArray* out = nullptr,
            QByteArray* err = nullptr) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
        process.start(program, args);
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (out) {
            *out = process.readAllStandardOutput();
        }
        if (err) {
            *err = process.readAllStandardError();
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(ServeProgram, ItsPageTakesACaptureByHandInTheRealBrowser) {
    TestHttpServer pages;
    pages.routeHtml(QStringLiteral("/green"),
                    "<html><body style='margin:0;background:rgb(0,160,0)'></body></html>");
    ServeProcess serve(dir.path());
    ASSERT_TRUE(serve.start({QStringLiteral("--allow"), QStringLiteral("127.0.0.1:%1").arg(pages.port()),
                             QStringLiteral("--cache"), dir.filePath(QStringLiteral("cache"))}))
        << serve.err().toStdString();
    // A person types the address and presses the button (done by the first check of the wait), then
    // the wait lasts until the thumbnail and the answer's headers are shown.
    const QString waitForJs =
        QStringLiteral(
            "(window.asked || (window.asked = (document.getElementById('url').value = %1,"
            " document.getElementById('format').value = 'PNG', document.getElementById('go').click(), true)),"
            " !document.getElementById('thumb').hidden && document.getElementById('thumb').naturalWidth === "
            "180"
            " && document.getElementById('headers').textContent.includes('cache-status: lumiclip; fwd=miss; "
            "stored'))")
            .arg(QString::fromUtf8(QJsonDocument(QJsonArray{pages.url(QStringLiteral("/green"))})
                                       .toJson(QJsonDocument::Compact)
                                       .mid(1)
                                       .chopped(1)));
    const QString shot = dir.filePath(QStringLiteral("thumb.png"));
    writeFile(dir.filePath(QStringLiteral("none.ini")), "[capture]\n");
    QByteArray err;
    ASSERT_EQ(run(QStringLiteral(LUMICLIP_CLI_PATH),
                  {QStringLiteral("--settings"), dir.filePath(QStringLiteral("none.ini")),
                   QStringLiteral("-f"), QStringLiteral("PNG"), QStringLiteral("--wait-for-js"), waitForJs,
                   QStringLiteral("--selector"), QStringLiteral("#thumb"), QStringLiteral("--size"),
                   QStringLiteral("182x140"), QStringLiteral("--timeout"), QStringLiteral("60"),
                   QStringLiteral("-o"), shot, serve.url(QStringLiteral("/"))},
                  nullptr, &err),
              0)
        << err.toStdString() << serve.err().toStdString();
    const QImage image(shot);
    EXPECT_EQ(image.pixelColor(91, 70), QColor(0, 160, 0));
    EXPECT_EQ(pages.hits(QStringLiteral("/green")), 1);
    EXPECT_EQ(serve.stop(), 0);
}

TEST_F(ServeProgram, CheckConfigChecksEverythingAndStartsNothing) {
    const QString serve = QStringLiteral(LUMICLIP_SERVE_PATH);
    writeFile(dir.filePath(QStringLiteral("tokens")), "t0ken\n");
    QByteArray out;
    QByteArray err;
    EXPECT_EQ(run(serve,
                  {QStringLiteral("--check-config"), QStringLiteral("--token-file"),
                   dir.filePath(QStringLiteral("tokens")), QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:1")},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.contains("good"));
    const struct {
        QStringList args;
        const char* says;
    } bad[] = {
        {{QStringLiteral("--allow"), QStringLiteral("host:0")}, "--allow"},
        {{QStringLiteral("--listen"), QStringLiteral("nowhere")}, "--listen"},
        {{QStringLiteral("--jobs"), QStringLiteral("0")}, "--jobs"},
        {{QStringLiteral("--cache-size"), QStringLiteral("lots")}, "--cache-size"},
        {{QStringLiteral("--token-file"), dir.filePath(QStringLiteral("missing"))}, "missing"},
        {{QStringLiteral("--frobnicate")}, "frobnicate"},
        {{QStringLiteral("extra")}, "extra"},
    };
    for (const auto& c : bad) {
        err.clear();
        EXPECT_EQ(run(serve, QStringList{QStringLiteral("--check-config")} + c.args, nullptr, &err), 2)
            << c.says;
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
    }
    writeFile(dir.filePath(QStringLiteral("bad.ini")), "[capture]\nimg_format=TIFF\n");
    EXPECT_EQ(run(serve,
                  {QStringLiteral("--check-config"), QStringLiteral("--settings"),
                   dir.filePath(QStringLiteral("bad.ini"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("TIFF")) << err.toStdString();
    EXPECT_EQ(run(serve, {QStringLiteral("--help")}, &out), 0);
    EXPECT_TRUE(out.contains("--signing-key-file"));
}

TEST_F(ServeProgram, TheKubernetesManifestsArgumentsPassCheckConfig) {
    const QByteArray manifest = readFile(QStringLiteral(LUMICLIP_SOURCE_DIR "/docs/k8s/lumiclip-serve.yaml"));
    ASSERT_FALSE(manifest.isEmpty());
    QStringList args = manifestArguments(manifest);
    ASSERT_GE(args.size(), 10);
    // The secrets the manifest mounts are files here, with something in them.
    for (const QString& option : {QStringLiteral("--token-file"), QStringLiteral("--signing-key-file")}) {
        const qsizetype at = args.indexOf(option);
        ASSERT_GE(at, 0) << option.toStdString();
        const QString local = dir.filePath(QFileInfo(args[at + 1]).fileName());
        writeFile(local, "secret\n");
        args[at + 1] = local;
    }
    QByteArray err;
    EXPECT_EQ(run(QStringLiteral(LUMICLIP_SERVE_PATH), args + QStringList{QStringLiteral("--check-config")},
                  nullptr, &err),
              0)
        << err.toStdString();
}
