// A record of every file-system operation in one folder, in the order they
// happen: SQLite's through a VFS that wraps the default one (its folder syncs
// too, through the one system call it makes them with), the program's own
// through its file-operation observer. Marks say where saves began and where
// they returned.
#pragma once

#include "data/FileSync.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace fstrace {

struct Op {
    enum Kind { Create, Write, Truncate, Sync, Rename, Unlink, DirSync, Begin, End };
    Op(Kind k, int file = -1, QString from = {}, QString into = {})
        : kind(k), inode(file), name(std::move(from)), to(std::move(into)) {}
    Kind kind;
    int inode = -1; // the file written, synced, created, renamed or removed
    // names in the folder ("sub/name" in a folder inside it): created,
    // removed, renamed (to `to`); for a folder sync, the folder ("" itself)
    QString name, to;
    qint64 offset = 0; // where a write goes; the size a truncation leaves
    QByteArray data;   // what a write writes
    int save = 0;      // the save a mark is of

    bool isData() const { return kind == Write || kind == Truncate; }
    bool isName() const { return kind == Create || kind == Rename || kind == Unlink; }
};

// The folder a name is in: "" for the folder itself.
QString folderOf(const QString& name);

// Records while it lives; one at a time. The folder must be empty at first.
class Recorder : public qardel::FileOpObserver {
  public:
    explicit Recorder(const QString& folder);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void mark(Op::Kind beginOrEnd, int save);
    const std::vector<Op>& ops() const { return m_ops; }
    // Why the record cannot be trusted (an operation failed); empty when it can.
    const QString& broken() const { return m_broken; }

    // from the VFS; paths outside the folder are not recorded
    int opened(const char* path, bool created); // the file's inode, -1 when not recorded
    void wrote(int inode, const void* data, int length, qint64 offset);
    void truncated(int inode, qint64 size);
    void syncing(int inode);
    void unlinking(const char* path);
    void syncingFolderOf(const char* path);
    void fail(const QString& why) { m_broken = why; }

    // from the program
    void created(const QString& path) override;
    void renamed(const QString& from, const QString& to) override;
    void removed(const QString& path) override;
    void syncing(const QString& path, bool folder) override;

  private:
    QString nameIn(const QString& path) const; // empty when not directly in the folder
    int create(const QString& name);
    void push(Op op) { m_ops.push_back(std::move(op)); }

    QString m_folder; // canonical, without the final '/'
    std::vector<Op> m_ops;
    std::map<QString, int> m_names; // what each name is now
    int m_nextInode = 0;
    QString m_broken;
};

} // namespace fstrace
