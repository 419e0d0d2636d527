#pragma once
// A four-field IPv4 address control: each field takes 0 to 255, a dot or a
// third digit moves on to the next field, Backspace in an empty field moves
// back. The whole control is one tab stop, and for screen readers a grouping
// of its four fields. It gives and takes dotted text; a
// blank field reads as 0, so the text it gives is always a parsable address.

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class QLineEdit;

class CIPAddressCtrl : public QFrame {
    Q_OBJECT

public:
    explicit CIPAddressCtrl(QWidget *parent = nullptr);

    // Shows a dotted address. Fields that do not parse as 0 to 255 are left
    // blank; text with fewer than four fields fills the leading ones.
    void setText(const QString &text);
    // The dotted address, blank fields read as 0: always "a.b.c.d".
    QString text() const;
    void clear();
    // Names the control and each of its fields for screen readers, after the
    // label beside it: "IP Address", "IP Address, part 1 of 4" and so on.
    void setName(const QString &name);
    // The address in host byte order. A wholly blank control is 0.0.0.0; one
    // with blank fields among filled ones has none, as it names no address
    // that the user chose.
    std::optional<uint32_t> value() const;

    // The field's edit (0 to 3), for keyboard focus and tests.
    QLineEdit *field(int index) const { return m_fields[index]; }

signals:
    // The user changed a field (by typing or by leaving a field whose value
    // was clamped); value is the field's number, -1 for a blank field.
    void fieldChanged(int field, int value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void onFieldEdited(int index);
    void focusField(int index, bool selectAll);
    int fieldValue(int index) const;

    std::array<QLineEdit *, 4> m_fields{};
};
