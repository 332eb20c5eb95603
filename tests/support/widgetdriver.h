#pragma once

#include <QAbstractItemView>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QStringList>
#include <QTest>

namespace quorrin::test {

// The texts of a list's rows, in order.
inline QStringList rows(const QAbstractItemView *list)
{
    QStringList texts;
    const QAbstractItemModel *model = list->model();
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts;
}

// Pastes `text` over the whole box, as a user would: one change event.
inline void paste(QLineEdit *box, const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keySequence(box, QKeySequence::Paste);
    QCOMPARE(box->text(), text);
}

} // namespace quorrin::test
