#pragma once

#include "install/Leftovers.h"
#include "model/AppItem.h"

#include <vector>

#include <QCoro/QCoroTask>
#include <QDialog>
#include <QPointer>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace corvanta {

class AppItem;
class Store;

// Moving an app to the Trash: the app, what it left in the Library with
// sizes (the items that are surely its own ticked, the ones that may
// belong to another app marked and left unticked), and whether to delete
// permanently instead. Confirming hands the choice to the model.
class RemovalPrompt : public QDialog {
    Q_OBJECT

public:
    RemovalPrompt(Store& store, AppItem* item, QWidget* parent = nullptr);

    // Shows `found` as the choices; the prompt looks them up itself when opened by the model.
    void setLeftovers(std::vector<Leftover> found);
    // The ticked leftovers.
    std::vector<Leftover> chosen() const;

    QList<QCheckBox*> leftoverBoxes() const { return m_boxes; }
    QCheckBox* permanentBox() const { return m_permanent; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* status() const { return m_status; }
    bool loading() const { return m_loading; }

    // The path as the Library shows it: "Application Support/Example".
    static QString shortPath(const Leftover& leftover, const QString& library);

private:
    QCoro::Task<> lookUp();
    void confirm();
    void syncButton();

    Store& m_store;
    QPointer<AppItem> m_item;
    std::vector<Leftover> m_found;
    QList<QCheckBox*> m_boxes;
    QLabel* m_status;
    QFrame* m_frame = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_list;
    QVBoxLayout* m_rows;
    QCheckBox* m_permanent;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
    bool m_loading = true;
};

} // namespace corvanta
