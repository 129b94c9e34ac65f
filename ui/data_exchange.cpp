#include "ui/data_exchange.h"

#include "widgets/message_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <limits>

namespace lumiclip {

namespace {

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Typing may not make a field longer than its limit; text the program sets may be longer, so that the
// check when the value is taken back can refuse it instead of silently cutting it.
class MaxLengthValidator final : public QValidator {
public:
    MaxLengthValidator(int maxLength, QObject* parent) : QValidator(parent), m_max(maxLength) {}
    State validate(QString& input, int& /*pos*/) const override {
        return input.size() > m_max ? Invalid : Acceptable;
    }
    int max() const { return m_max; }

private:
    int m_max;
};

}  // namespace

std::optional<int> ParseFieldInteger(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text.at(i))) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    const qsizetype digitsStart = i;
    long long magnitude = 0;
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    while (i < n && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        magnitude = magnitude * 10 + (text.at(i).unicode() - u'0');
        if (magnitude > kLimit) {
            return std::nullopt;  // far beyond any int; stop before the sum can overflow
        }
        ++i;
    }
    if (i == digitsStart) {
        return std::nullopt;
    }
    while (i < n && IsBlank(text.at(i))) {
        ++i;
    }
    if (i != n) {
        return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

QString IntegerPrompt() {
    return QString::fromUtf8("请输入一个整数。");
}

QString IntegerRangePrompt(int min, int max) {
    return QString::fromUtf8("请输入一个介于 %1 和 %2 之间的整数。").arg(min).arg(max);
}

QString MaxCharsPrompt(int max) {
    return QString::fromUtf8("请输入不超过 %1 个字符。").arg(max);
}

bool CDataExchange::active(QWidget* control) {
    if (m_failed) {
        return false;
    }
    m_lastControl = control;
    return control != nullptr;
}

void CDataExchange::Fail(const QString& prompt) {
    if (m_failed) {
        return;
    }
    m_failed = true;
    AppMessageBox(prompt, MessageIcon::Warning, MessageButtons::Ok, m_dialog);
    if (m_lastControl != nullptr) {
        // The prompt had the activation; without it the focus below would not reach the field.
        m_lastControl->activateWindow();
        m_lastControl->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(m_lastControl)) {
            edit->selectAll();
        }
    }
}

void CDataExchange::Integer(QLineEdit* field, int& value) {
    if (!active(field)) {
        return;
    }
    if (!m_bSaveAndValidate) {
        field->setText(QString::number(value));
        return;
    }
    if (const std::optional<int> number = ParseFieldInteger(field->text())) {
        value = *number;
    } else {
        Fail(IntegerPrompt());
    }
}

// Edit fields and labels both carry their value as text().
template <typename Control>
void CDataExchange::TextOf(Control* control, QString& value) {
    if (!active(control)) {
        return;
    }
    if (m_bSaveAndValidate) {
        value = control->text();
    } else {
        control->setText(value);
    }
}

void CDataExchange::Text(QLineEdit* field, QString& value) {
    TextOf(field, value);
}

void CDataExchange::Text(QLabel* label, QString& value) {
    TextOf(label, value);
}

void CDataExchange::ComboText(QComboBox* box, QString& value) {
    if (!active(box)) {
        return;
    }
    if (m_bSaveAndValidate) {
        value = box->currentIndex() >= 0 ? box->itemText(box->currentIndex()) : QString();
        return;
    }
    int selected = -1;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).startsWith(value, Qt::CaseInsensitive)) {
            selected = i;
            break;
        }
    }
    box->setCurrentIndex(selected);
}

void CDataExchange::Check(QCheckBox* box, bool& value) {
    if (!active(box)) {
        return;
    }
    if (m_bSaveAndValidate) {
        value = box->isChecked();
    } else {
        box->setChecked(value);
    }
}

void CDataExchange::MinMaxInt(int value, int min, int max) {
    if (m_failed || !m_bSaveAndValidate) {
        return;
    }
    if (value < min || value > max) {
        Fail(IntegerRangePrompt(min, max));
    }
}

void CDataExchange::MaxChars(const QString& value, int max) {
    if (m_failed) {
        return;
    }
    if (m_bSaveAndValidate) {
        if (value.size() > max) {
            Fail(MaxCharsPrompt(max));
        }
        return;
    }
    auto* edit = qobject_cast<QLineEdit*>(m_lastControl);
    if (edit == nullptr) {
        return;  // a list has no typed text to limit
    }
    const QValidator* current = edit->validator();
    const auto* limit = dynamic_cast<const MaxLengthValidator*>(current);
    if (current == nullptr || (limit != nullptr && limit->max() != max)) {
        edit->setValidator(new MaxLengthValidator(max, edit));
        delete limit;
    }
}

}  // namespace lumiclip
