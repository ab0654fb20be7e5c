#include "TableLayout.h"

#include "CenterPanel.h"
#include "Document.h"
#include "PanelWindow.h"
#include "QSTableController.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

void TableLayout::build(Document* owner) {
    auto* window = new PanelWindow();
    window->setObjectName("TableWindow");
    window->resize(1100, 760);

    QWidget* content = window->contentView();
    content->resize(1100, 760);
    auto* centre = new CenterPanel(content);
    centre->setObjectName("centerPanel");
    centre->setFrameShape(QFrame::NoFrame);
    window->setFrameOf(centre, QRectF(9, 9, content->width() - 18, content->height() - 18));

    auto* filterField = new QLineEdit(centre);
    filterField->setObjectName("filterField");
    filterField->setPlaceholderText(QStringLiteral("Filter"));
    filterField->setClearButtonEnabled(true);

    auto* tableView = new QTableView(centre);
    tableView->setObjectName("tableView");
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->setAlternatingRowColors(true);
    tableView->setWordWrap(false);
    tableView->verticalHeader()->setVisible(false);
    tableView->verticalHeader()->setDefaultSectionSize(tableView->fontMetrics().height() + 6);
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->horizontalHeader()->setDefaultSectionSize(160);

    auto* column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(filterField);
    column->addWidget(tableView);

    auto* controller = new QSTableController(window);
    controller->tableView = tableView;
    controller->filterField = filterField;
    tableView->setModel(controller);
    QObject::connect(filterField, &QLineEdit::textChanged, controller,
                     &TableController::filterAction);

    owner->partWindow = window;
    owner->partController = controller;
    window->awakeFromNib();
    owner->awakeFromNib();
}
