// Super check partial: the calls of active contest stations (MASTER.SCP)
// that contain what the operator has typed so far.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace qardel::callinfo {

class ScpList {
  public:
    ScpList() = default;
    // One call a line; lines starting with '#' are comments. Anything but
    // letters, digits and '/' ends a call.
    static ScpList parse(const QByteArray& bytes);
    // The release named in a "# Release 2023.05.02.00" comment; invalid when none.
    static QDate versionIn(const QByteArray& bytes);

    int size() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }
    // Up to max calls that contain text (ignoring case): those that begin
    // with it first, each group in the file's order.
    QStringList find(QStringView text, int max = 8) const;

  private:
    QByteArray m_calls; // "\n" + each call + "\n", upper case
    int m_count = 0;
};

} // namespace qardel::callinfo
