#pragma once
// The message list: one row per definition of the document, named by the
// definition, with an image for primary, secondary and stream-0 messages,
// kept sorted by name. It shows the document's records and owns none.
#include "CHOneMsg.h"

#include <QIcon>
#include <QListWidget>
#include <QString>

#include <string>

namespace tovik {

class CHMsgListView : public QListWidget {
    Q_OBJECT
public:
    // ImageError: the text does not load; the row's tool tip says why.
    enum Image { ImagePrimary = 0, ImageSecondary = 1, ImageStream0 = 2, ImageError = 3 };
    static constexpr int kRecordRole = Qt::UserRole + 1;
    static constexpr int kImageRole = Qt::UserRole + 2;

    explicit CHMsgListView(QWidget* parent = nullptr);

    static Image ImageFor(const CHOneMsg& msg);
    static QIcon IconFor(Image image);

    // Adds a row for the record at its sorted place; returns its row.
    int InsertMessageItem(CHOneMsg* msg);
    // Replaces every row by the records in `list` (their stream and function
    // already decoded).
    void Rebuild(const CHOneMsgList& list);

    CHOneMsg* MessageAt(int row) const;
    int RowOf(const CHOneMsg* msg) const;
    int SelectedRow() const;
    // The text of the first selected row; empty when none is selected.
    QString SelectedName() const;
    // The same name as the definition's bytes, for finding it by name.
    std::string SelectedNameBytes() const;
    void SelectRow(int row); // -1 clears; the row is scrolled into view
    // Removes the selected row; returns its index, -1 when none.
    int RemoveSelectedRow();

Q_SIGNALS:
    // Posted after a double click / right click anywhere in the list, once
    // the mouse event is over.
    void sendRequested();
    void propertyRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

protected:
    void changeEvent(QEvent* event) override;

private:
    QListWidgetItem* makeItem(CHOneMsg* msg) const;
    // Columns as wide as the longest name, so names are not cut short.
    void fitGrid(const QString& name);
    void refitGrid();

    int m_textWidth = 0;
};

// Name order of the list: letter case ignored first, then exact text, so
// "abc" and "ABC" keep a fixed order.
bool MsgNameLess(const QString& a, const QString& b);

} // namespace tovik
