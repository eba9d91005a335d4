#pragma once

#include <QDialog>

namespace Quillmark {

// The small modal window of the brand button: logo, product name, version and a
// short description.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;
};

} // namespace Quillmark
