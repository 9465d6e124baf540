#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <optional>

// What went wrong while reading a message text: the step of the reader that failed (numbered as
// the reports have always numbered them) and what was found.
struct ReadFault {
    int step = 0;
    QString description;
};

// One received xAP message, read once. The header fields and the item lines of every block are
// kept as views into the text, which the message owns, so reading allocates almost nothing.
//
// Reading follows the xAP text rules: the first line must name "xap-header"; the line after each
// "}" names the next block; an item is a line with "=" (name trimmed of blanks, value everything
// after the first "="). Lines may end in LF or CR LF; blank lines before the header and after a
// "}", and blanks and tabs around braces, block names, header values and before item names, are
// passed over. A malformed
// text keeps what was read before the fault, and fault() says what stopped the reader; a text
// that ends before its last block is closed is cutOff(). Names compare without regard to letter
// case. A missing header field, block or item reads as "Unknown", as xAP applications expect.
class XapMessage {
public:
    static XapMessage read(QString text);

    XapMessage(XapMessage&&) noexcept = default;
    XapMessage& operator=(XapMessage&&) noexcept = default;
    XapMessage(const XapMessage&) = delete;
    XapMessage& operator=(const XapMessage&) = delete;

    const std::optional<ReadFault>& fault() const { return m_fault; }
    // A message whose text stops inside a block (a hub or a sender cut it at a datagram limit):
    // its last item may be cut short too, so it is not to be taken as whole.
    bool cutOff() const { return m_cutOff; }
    const QString& text() const { return m_text; }

    QStringView className() const { return m_class; }
    QStringView source() const { return m_source; }
    QStringView target() const { return m_target; }
    QStringView uid() const { return m_uid; }

    bool isClass(QStringView name) const;
    bool sourceMatches(QStringView address) const;
    bool targetMatches(QStringView address) const;

    // The value of an item of a block, or "Unknown".
    QStringView item(QStringView block, QStringView name) const;

    // The names of the blocks in order, lower-cased (the unnamed one the final "}" opens is left
    // out), and the item lines of block `index`.
    QList<QString> blockNames() const;
    QList<QStringView> itemLines(qsizetype index) const;

private:
    explicit XapMessage(QString text);
    void parse();
    // Takes the value of a header line whose name is one of the four fields.
    void setHeaderField(QStringView name, QStringView value);

    struct Block {
        QStringView name;
    };
    struct Item {
        qsizetype block;
        QStringView name;
        QStringView line;
        qsizetype valueAt;
    };

    QString m_text;
    QStringView m_class;
    QStringView m_source;
    QStringView m_target;
    QStringView m_uid;
    QVarLengthArray<Block, 4> m_blocks;
    QVarLengthArray<Item, 12> m_items;
    std::optional<ReadFault> m_fault;
    bool m_cutOff = false;
};
