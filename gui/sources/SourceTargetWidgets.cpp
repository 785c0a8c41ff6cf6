#include "gui/sources/SourceTargetWidgets.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "config/ApplicationTexts.h"
#include "config/FolderBrowser.h"
#include "widgets/QCustomInputs.h"
#include "gui/sources/SourceModels.h"

QSingleSourceTargetWidget::QSingleSourceTargetWidget(QWidget* parent)
    : QWidget(parent), m_label(new QLabel(this)), m_edit(new QCustomLineEdit(this))
{
    m_label->setObjectName("lblChooseDescribe");
    m_edit->setObjectName("lblChooseSource");
    m_edit->setFocusPolicy(Qt::StrongFocus);
    auto* button = new QPushButton("...", this);
    button->setObjectName("btnChooseButton");
    auto* grid = new QGridLayout;
    grid->addWidget(m_label, 0, 0);
    grid->addWidget(m_edit, 1, 0);
    grid->addWidget(button, 0, 1, 3, 1, Qt::AlignHCenter);
    setLayout(grid);
    QMetaObject::connectSlotsByName(this);
    connect(m_edit, &QLineEdit::textEdited, this, &QSingleSourceTargetWidget::OnTextEdited);
    connect(m_edit, &QLineEdit::returnPressed, this, [this] { Accepted(); });
}

QSingleSourceTargetWidget::~QSingleSourceTargetWidget() = default;

void QSingleSourceTargetWidget::SetModel(std::shared_ptr<model::SingleSourceTargetModel> model)
{
    m_modelConnections.clear();
    m_model = std::move(model);
    if (!m_model)
        return;
    m_modelConnections.emplace_back(m_model->PathChanged.connect(
        [this](const model::SingleSourceTargetModel* changed) { m_edit->setText(changed->GetPath()); }));
    m_modelConnections.emplace_back(m_model->PageShown.connect([this] { show(); }));
    m_modelConnections.emplace_back(m_model->PageHidden.connect([this] { hide(); }));
    m_edit->setText(m_model->GetPath());
}

void QSingleSourceTargetWidget::OnTextEdited(const QString& text)
{
    if (m_model)
        m_model->SetPath(text);
}

void QSingleSourceTargetWidget::on_btnChooseButton_clicked()
{
    const QString chosen = ChooseSource();
    if (chosen.isEmpty())
        return;
    if (m_model)
        m_model->SetPath(chosen);
    Accepted();
}

QString QFileSourceTargetWidget::ChooseSource()
{
    const QString filter =
        tr("All video files(*._* *.avi *.mkv *.mp4 *.asf *.flv *.mov);;%1 video files(*._*);;Common video "
           "files(*.avi *.mkv *.mp4 *.asf *.flv *.mov)")
            .arg(ApplicationDisplayName(), 0, QLatin1Char(' '));
    const QString start = GetModel() ? GetModel()->GetPath() : QString();
    const QString file = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), start, filter);
    return file.isEmpty() ? QString() : QDir::toNativeSeparators(file);
}

QString QFolderSourceTargetWidget::ChooseSource()
{
    const QString current = GetModel() ? GetModel()->GetPath() : QString();
    const QString folder = BrowseForFolder(tr("Current Selection"), current, QApplication::activeWindow(), false);
    return folder.isEmpty() ? current : folder;
}
