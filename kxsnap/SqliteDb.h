// A thin RAII layer over SQLite: one connection, prepared statements, and
// errors turned into one-line EnvironmentErrors that say what a person can do
// (catalogue locked, read-only, damaged).
#pragma once

#include <cstdint>
#include <string>

#include "kxsnap/Errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kxsnap {

class SqliteDb;

class Statement {
public:
    Statement(SqliteDb& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, const std::string& text);
    Statement& BindBlob(int index, const std::string& bytes);
    // True while a row is available; false when done. Throws on errors.
    bool Step();
    void Run() { Step(); }

    int64_t Int(int column) const;
    std::string Text(int column) const;  // also reads blobs, byte-exact
    bool IsNull(int column) const;

private:
    SqliteDb& db_;
    sqlite3_stmt* statement_ = nullptr;
};

class SqliteDb {
public:
    // Opens read-write, creating the file when `create` is set, or read-only.
    // The busy time-out is how long a write waits for another kxsnap to
    // finish its own.
    SqliteDb(const std::string& path, bool create, int busyTimeoutMs, bool readOnly = false);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    void Execute(const char* sql);
    void SetBusyTimeout(int milliseconds);
    int64_t LastInsertId() const;
    const std::string& Path() const { return path_; }
    sqlite3* Handle() { return db_; }

    // Raises the EnvironmentError that fits an SQLite result code.
    [[noreturn]] void Fail(int code, const std::string& doing);

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

// Runs a write transaction: BEGIN IMMEDIATE takes the write lock at once, so
// that a second kxsnap waits (busy time-out) instead of failing half-way.
class WriteTransaction {
public:
    explicit WriteTransaction(SqliteDb& db);
    ~WriteTransaction();  // rolls back unless committed
    void Commit();

private:
    SqliteDb& db_;
    bool done_ = false;
};

}  // namespace kxsnap
