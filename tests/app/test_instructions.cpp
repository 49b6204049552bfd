#include "app/main_window.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

// The document is looked for in the current folder first (where the user may
// keep an own copy), then beside the program, then in the installed
// documentation; a program started from elsewhere still finds it.
TEST(Instructions, FoundInCurrentThenProgramThenDocumentationFolder) {
    QTemporaryDir root;
    const QString current = root.filePath(QStringLiteral("current"));
    const QString program = root.filePath(QStringLiteral("program"));
    const QString docs = root.filePath(QStringLiteral("docs"));
    for (const QString& folder : {current, program, docs})
        ASSERT_TRUE(QDir().mkpath(folder));
    const auto put = [](const QString& folder) {
        QFile file(QDir(folder).filePath(TFormMain::kInstructionsFile));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    const auto doc = [](const QString& folder) {
        return QDir(folder).filePath(TFormMain::kInstructionsFile);
    };

    EXPECT_EQ(TFormMain::FindInstructions(current, program, docs), QString());
    put(docs);
    EXPECT_EQ(TFormMain::FindInstructions(current, program, docs), doc(docs));
    EXPECT_EQ(TFormMain::FindInstructions(current, program, QString()), QString());
    put(program);
    EXPECT_EQ(TFormMain::FindInstructions(current, program, docs), doc(program));
    put(current);
    EXPECT_EQ(TFormMain::FindInstructions(current, program, docs), doc(current));

    // A folder of that name is not the document.
    const QString other = root.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(QDir(other).filePath(TFormMain::kInstructionsFile)));
    EXPECT_EQ(TFormMain::FindInstructions(other, program, docs), doc(program));
}

} // namespace
} // namespace korvinet::app

namespace korvinet::app {
namespace {

// The build turns the instructions source into a real PDF beside the program.
TEST(Instructions, DocumentIsBuiltBesideTheProgram) {
    QFile pdf(QStringLiteral(KORVINET_INSTRUCTIONS_PDF));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly)) << KORVINET_INSTRUCTIONS_PDF;
    const QByteArray bytes = pdf.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_GT(bytes.size(), 4000);
    EXPECT_TRUE(bytes.contains("/Title")); // carries its title
}

} // namespace
} // namespace korvinet::app
