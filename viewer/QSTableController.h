// The controller class of the "Table" layout: a TableController, nothing added.
#pragma once

#include "TableController.h"

class QSTableController : public TableController {
    Q_OBJECT

  public:
    explicit QSTableController(QObject* parent = nullptr) : TableController(parent) {}
};
