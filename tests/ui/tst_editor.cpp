#include <QtTest>
#include "uEditor.h"
class TestEditor : public QObject { Q_OBJECT
private slots:
  void probe() { qDebug() << int(QTest::keyToAscii(Qt::Key_Delete)) << int(QTest::keyToAscii(Qt::Key_Backspace)) << int(QTest::keyToAscii(Qt::Key_Return)) << int(QTest::keyToAscii(Qt::Key_Escape)); }
};
QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
