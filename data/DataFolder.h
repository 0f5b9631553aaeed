// The data folder as the program takes it at start: made when missing, held
// by one program at a time, backed up once a day. The texts are the
// operator's, in Russian; the ADIF command uses the same folder the same way.
#pragma once

#include <QDate>
#include <QLockFile>
#include <QString>

#include <memory>

namespace qardel {

class DataFolder {
  public:
    // dir ends with the path delimiter; the texts are Russian unless english
    explicit DataFolder(QString dir, bool english = false);
    const QString& path() const { return m_dir; }

    // Makes the folder and takes its lock: empty when done, else why not.
    // An import that a crash interrupted is finished or undone here first.
    QString take();
    // What take() did about an interrupted import, for the operator; empty
    // when there was none.
    const QString& recovered() const { return m_recovered; }
    // The message for a table file that could not be read: the engine's
    // error, the newest backup of that file, and that nothing was changed.
    QString unreadable(const QString& engineError) const;
    // Today's copy of the tables, taken after they were read without error;
    // empty when done or not needed, else the message for the operator.
    QString backUp(const QDate& today) const;

  private:
    QString recoverImport();
    QString text(const char* russian, const char* english) const;

    QString m_dir;
    bool m_english = false;
    QString m_recovered;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace qardel
