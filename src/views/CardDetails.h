#pragma once

#include "model/UpdateControl.h"

#include <functional>

#include <QTextBrowser>
#include <QUuid>
#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace corvanta {

class AppItem;
class StatusCardView;

// Release notes come from the sources as they wrote them: shown as text,
// with nothing fetched on their behalf and links opened only on a click.
class NotesView : public QTextBrowser {
    Q_OBJECT

public:
    explicit NotesView(QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;
    // Sets the notes and fits the height to them, up to a limit.
    void setNotes(const QString& notes, bool markdown);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();
};

// An app's details under its row: the status card, what each source said,
// the release notes and the log of the last install.
class CardDetails : public QWidget {
    Q_OBJECT

public:
    explicit CardDetails(QWidget* parent = nullptr);

    // `entries` are the context menu's commands that are offered as buttons.
    void display(const AppItem& item, const QList<MenuEntry>& entries);

    StatusCardView* statusCard() const { return m_status; }
    QWidget* attempts() const { return m_attempts; }
    NotesView* notes() const { return m_notes; }
    QLabel* installLog() const { return m_log; }
    QList<QPushButton*> actionButtons() const;

Q_SIGNALS:
    void command(MenuEntry::Command command);
    void openLink(const QUrl& url);

private:
    StatusCardView* m_status;
    QLabel* m_attemptsHeading;
    QWidget* m_attempts;
    QVBoxLayout* m_attemptRows;
    QLabel* m_notesHeading;
    NotesView* m_notes;
    QPushButton* m_notesLink;
    QUrl m_notesURL;
    QLabel* m_logHeading;
    QLabel* m_log;
    QWidget* m_actions;
    QList<QUuid> m_attemptIds;
    QList<MenuEntry> m_entries;
    QString m_notesText;
};

} // namespace corvanta
