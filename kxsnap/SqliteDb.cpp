#include "kxsnap/SqliteDb.h"

#include <sqlite3.h>

namespace kxsnap {

namespace {

std::string Reason(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "catalogue locked: another kxsnap is writing it; try again when it has finished";
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return "catalogue is read-only";
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return "catalogue is damaged or not a kxsnap catalogue";
        case SQLITE_CANTOPEN:
            return "cannot open the catalogue";
        case SQLITE_FULL:
            return "no space left for the catalogue";
        default:
            return sqlite3_errstr(code);
    }
}

}  // namespace

SqliteDb::SqliteDb(const std::string& path, bool create, int busyTimeoutMs, bool readOnly)
    : path_(path) {
    int flags = SQLITE_OPEN_NOMUTEX;
    if (readOnly)
        flags |= SQLITE_OPEN_READONLY;
    else
        flags |= SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK)
        Fail(code, "open");
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
}

SqliteDb::~SqliteDb() {
    sqlite3_close_v2(db_);
}

void SqliteDb::Fail(int code, const std::string& doing) {
    std::string detail = db_ ? sqlite3_errmsg(db_) : "";
    std::string message = Reason(code) + " (" + path_ + ")";
    if ((code & 0xff) != SQLITE_BUSY && !detail.empty() && detail != Reason(code))
        message += ": " + doing + ": " + detail;
    throw EnvironmentError(message);
}

void SqliteDb::SetBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_, milliseconds);
}

void SqliteDb::Execute(const char* sql) {
    char* error = nullptr;
    int code = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
    sqlite3_free(error);
    if (code != SQLITE_OK)
        Fail(code, "write");
}

int64_t SqliteDb::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

Statement::Statement(SqliteDb& db, const char* sql) : db_(db) {
    int code = sqlite3_prepare_v2(db.Handle(), sql, -1, &statement_, nullptr);
    if (code != SQLITE_OK)
        db_.Fail(code, "read");
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement& Statement::Bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindBlob(int index, const std::string& bytes) {
    sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

bool Statement::Step() {
    int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    db_.Fail(code, "query");
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : "";
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

WriteTransaction::WriteTransaction(SqliteDb& db) : db_(db) {
    db_.Execute("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
    if (!done_)
        sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::Commit() {
    db_.Execute("COMMIT");
    done_ = true;
}

}  // namespace kxsnap
