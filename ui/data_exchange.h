#pragma once

#include <QString>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace lumiclip {

// The integer a dialog field holds: blanks and tabs around an optionally signed run of decimal digits,
// nothing else. An empty field, "12px", "1 2" or a number beyond the int range hold none.
std::optional<int> ParseFieldInteger(const QString& text);

// One pass of a dialog's values between its members and its controls. Pushing (saveAndValidate false)
// sets every control from its member. Taking back reads the controls in the order the calls are made
// and checks each value right after it is read; the first value that fails shows its prompt in the
// application's message box, gives its control the focus, and marks the exchange failed, after which
// every further call does nothing, so the members after the failing one keep their earlier values.
//
// A check (MinMaxInt, MaxChars) applies to the control of the exchange call just before it.
class CDataExchange final {
    Q_DISABLE_COPY_MOVE(CDataExchange)

public:
    CDataExchange(QWidget* dialog, bool saveAndValidate)
        : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate) {}

    bool isSaving() const { return m_bSaveAndValidate; }
    bool failed() const { return m_failed; }

    // A decimal integer in an edit field. A field that holds none shows the integer prompt and leaves
    // value unchanged.
    void Integer(QLineEdit* field, int& value);
    // Text of an edit field or a static label.
    void Text(QLineEdit* field, QString& value);
    void Text(QLabel* label, QString& value);
    // The selected item's text of a drop-down list (empty when nothing is selected). Pushing selects the
    // first item whose text begins with value, ignoring case, or none when no item does.
    void ComboText(QComboBox* box, QString& value);
    void Check(QCheckBox* box, bool& value);

    // Taking back: a value outside min..max shows the range prompt (the member already holds it).
    void MinMaxInt(int value, int min, int max);
    // Taking back: text over max characters shows the length prompt. Pushing: an edit field then accepts
    // no more than max typed characters (text set by the program may be longer, and is refused here).
    void MaxChars(const QString& value, int max);

    // Shows text as the failing prompt and ends the exchange with the focus on the last control.
    void Fail(const QString& prompt);

private:
    bool active(QWidget* control);
    template <typename Control>
    void TextOf(Control* control, QString& value);

    QWidget* m_dialog;
    const bool m_bSaveAndValidate;
    bool m_failed = false;
    QWidget* m_lastControl = nullptr;
};

// The prompts, in the wording of the whole interface.
QString IntegerPrompt();
QString IntegerRangePrompt(int min, int max);
QString MaxCharsPrompt(int max);

}  // namespace lumiclip
