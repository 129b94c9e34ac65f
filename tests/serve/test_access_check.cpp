// Tokens and signed addresses: what passes, and the status of what does not.
#include "serve/access_check.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lumiclip {
namespace {

class AccessCheckTest : public ::testing::Test {
protected:
    QString write(const char* name, const QByteArray& content) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    AccessCheck load(const QString& tokens, const QString& key) {
        QString error;
        const std::optional<AccessCheck> check = AccessCheck::load(tokens, key, &error);
        EXPECT_TRUE(check) << error.toStdString();
        return check.value_or(AccessCheck());
    }
    QTemporaryDir m_dir;
};

TEST_F(AccessCheckTest, WithoutFilesEveryoneMayAsk) {
    const AccessCheck check = load({}, {});
    EXPECT_FALSE(check.checkToken(""));
    EXPECT_FALSE(check.checkSignature("url=http%3A%2F%2Fexample.com"));
}

TEST_F(AccessCheckTest, TokensFromEachLineOfTheFile) {
    const AccessCheck check = load(write("tokens", "# rotated monthly\nold-token\n\n  new-token  \n"), {});
    EXPECT_FALSE(check.checkToken("Bearer old-token"));
    EXPECT_FALSE(check.checkToken("bearer new-token"));
    EXPECT_EQ(check.checkToken("")->status, 401);
    EXPECT_EQ(check.checkToken("Basic dXNlcjpwdw==")->status, 401);
    EXPECT_EQ(check.checkToken("Bearer ")->status, 401);
    EXPECT_EQ(check.checkToken("Bearer new-toke")->status, 403);
    EXPECT_EQ(check.checkToken("Bearer # rotated monthly")->status, 403);
}

TEST_F(AccessCheckTest, SignatureOverTheQueryBeforeIt) {
    const AccessCheck check = load({}, write("key", "s3cret\n"));
    const QByteArray query = "url=http%3A%2F%2Fexample.com%2F&size=360x276";
    const QByteArray sig = AccessCheck::sign("s3cret", query);
    EXPECT_EQ(sig.size(), 64);
    EXPECT_EQ(sig, sig.toLower());
    EXPECT_FALSE(check.checkSignature(query + "&sig=" + sig));
    // Anything changed, added or moved after the signature fails.
    EXPECT_EQ(check.checkSignature(query)->status, 403);
    EXPECT_EQ(check.checkSignature("url=http%3A%2F%2Fexample.com%2F&size=720x552&sig=" + sig)->status, 403);
    EXPECT_EQ(check.checkSignature(query + "&sig=" + sig + "&size=10x10")->status, 403);
    EXPECT_EQ(check.checkSignature(query + "&sig=" + sig.toUpper())->status, 403);
    // The key is the file's bytes without the final newline: "s3cret\n" signs as "s3cret".
    EXPECT_EQ(check.checkSignature(query + "&sig=" + AccessCheck::sign("s3cret\n", query))->status, 403);
    // A query of the signature alone signs the empty string.
    EXPECT_FALSE(check.checkSignature("sig=" + AccessCheck::sign("s3cret", "")));
}

TEST_F(AccessCheckTest, FilesThatCannotServeAreRefusedByName) {
    QString error;
    EXPECT_FALSE(AccessCheck::load(m_dir.filePath(QStringLiteral("missing")), {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing"))) << error.toStdString();
    EXPECT_FALSE(AccessCheck::load(write("comments", "# none yet\n\n"), {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no token"))) << error.toStdString();
    EXPECT_FALSE(AccessCheck::load({}, write("empty", "\n"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("empty"))) << error.toStdString();
    EXPECT_FALSE(AccessCheck::load({}, write("big", QByteArray(100 * 1024, 'k')), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("larger than"))) << error.toStdString();
}

}  // namespace
}  // namespace lumiclip
