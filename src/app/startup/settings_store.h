#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "base/result.h"

namespace benchcap::app {

// The per-user settings store: text values addressed by application, section and key.
// Names match without regard to case when read, so a file edited by hand with
// `address=12` under `[settings]` still counts.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // The stored text, or `fallback` when the store, the section or the key is missing
    // or unreadable. Never fails.
    virtual QString read(const QString& application, const QString& section, const QString& key,
                         const QString& fallback) = 0;
    // Sets a value; it reaches the disk with flush().
    virtual void write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
    // Makes every write so far permanent.
    virtual Status flush() = 0;
    // Whether the stored value is not UTF-8 and was read as Latin-1: as a file name it
    // names bytes that the text read from it does not spell.
    virtual bool readAsLatin1(const QString& application, const QString& section,
                              const QString& key) {
        (void)application, (void)section, (void)key;
        return false;
    }
};

// The store as INI files, one per application (`BENCHCAP.ini`) in one folder, in the form
// QSettings reads and writes. A file whose name differs only in case is found and kept.
// The file is edited as bytes, by the one profile editor (scanner/ini_file.h, in its
// settings-file dialect): lines the program does not own (comments, other sections and
// keys, whatever their encoding) are written back byte for byte, and so is a value that did
// not change. A value is read as UTF-8 when it is valid UTF-8, else as Latin-1,
// and written back in the encoding it was read in. A file that is a symbolic link is
// updated at the link's target; a read-only file is left alone ("... is read-only").
class IniSettingsStore final : public SettingsStore {
  public:
    explicit IniSettingsStore(QString folder);
    // The user's configuration folder (XDG_CONFIG_HOME, usually ~/.config).
    static QString defaultFolder();

    QString read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;
    Status flush() override;
    bool readAsLatin1(const QString& application, const QString& section,
                      const QString& key) override;

    // The file that holds `application`'s settings (an existing one of any case, or a new
    // name in the folder).
    QString fileFor(const QString& application) const;

    // Larger files are no settings of ours: they are neither read nor replaced.
    static constexpr qint64 kMaxSettingsBytes = qint64{16} << 20;

  private:
    struct Pending {
        QString application, section, key, value;
    };
    Result<QByteArray> load(const QString& file) const;
    QString folder_;
    std::vector<Pending> pending_;
    QString cachedFile_;  // the file read last, and its bytes
    QByteArray cached_;
};

// A store in memory: for runs that keep nothing, and for tests, which see every read and
// write in order. Names match without regard to case, as in the file store.
class MemorySettingsStore final : public SettingsStore {
  public:
    struct Access {
        bool isWrite;
        QString key;
        QString value;  // written value, or the value read back
    };
    // Sets a stored value directly (as an existing store would hold it).
    void set(const QString& key, const QString& value,
             const QString& section = QStringLiteral("Settings"),
             const QString& application = QStringLiteral("BENCHCAP"));
    // The stored value, nullopt when there is none.
    std::optional<QString> get(const QString& key) const;
    const std::vector<Access>& accesses() const { return accesses_; }
    int flushes() const { return flushes_; }

    QString read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;
    Status flush() override {
        ++flushes_;
        return {};
    }

  private:
    struct Entry {
        QString application, section, key, value;
    };
    Entry* find(const QString& application, const QString& section, const QString& key);
    std::vector<Entry> entries_;
    std::vector<Access> accesses_;
    int flushes_ = 0;
};

// Value encodings: yes/no as "True"/"False"; numbers as plain decimal text with ".".
QString encodeBool(bool value);
// "True"/"False" in any case, or a number (not 0 is yes); anything else is nullopt.
std::optional<bool> decodeBool(const QString& text);
QString encodeNumber(double value);
// The leading number of the text (blanks skipped, no number gives 0), as settings,
// instrument answers and the command line are read.
double decodeNumber(const QString& text);
// decodeNumber rounded to the nearest integer, ties to the even one.
int decodeInteger(const QString& text);

// One value as an INI line's right-hand side that QSettings reads back unchanged.
QString iniEscapeValue(const QString& value);
// `text` (an INI file's bytes) with `key` in `section` set to `value`: an existing line of
// that key (any case) is replaced unless it holds the value already, further duplicates
// removed, a missing key or section added; every other byte stays.
QByteArray iniWithValue(const QByteArray& text, const QString& section, const QString& key,
                        const QString& value);
// The stored bytes of `key` in `section` (quotes and escapes undone), nullopt when missing.
std::optional<QByteArray> iniValue(const QByteArray& text, const QString& section,
                                   const QString& key);
// A stored value's bytes as text: UTF-8 when they are valid UTF-8, else Latin-1.
QString decodeSettingBytes(const QByteArray& bytes);

}  // namespace benchcap::app
