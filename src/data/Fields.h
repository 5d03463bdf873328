#pragma once
// Fields of a record set: a column's kind, its text forms and its values in
// the snapshot or in the row being appended. Internal to the data layer.

#include "data/CellWriter.h"
#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "data/Provider.h"

#include <string>
#include <string_view>

namespace querlin::data {

class FieldImpl final : public TField {
public:
    FieldImpl(TADOQuery::Impl& owner, int index, std::string name, TFieldType kind,
              const ColumnInfo& column)
        : owner_(owner), index_(index), name_(std::move(name)), kind_(kind), column_(column),
          slot_(SlotFor(kind, column.type)), size_(text::SizeFor(kind, column)),
          precision_(text::PrecisionFor(kind, column)),
          displayWidth_(text::DefaultDisplayWidth(kind, size_, precision_)),
          readOnly_(kind == TFieldType::ftAutoInc || !column.updatable),
          unsignedValues_(column.type == AdoType::UnsignedBigInt)
    {
    }

    const std::string& FieldName() const override { return name_; }
    TFieldType DataType() const override { return kind_; }
    int Index() const override { return index_; }
    int Size() const override { return size_; }
    int Precision() const override { return precision_; }
    int DisplayWidth() const override { return displayWidth_; }
    void SetDisplayWidth(int width) override
    {
        if (width == displayWidth_)
            return;
        displayWidth_ = width;
        if (owner_.Open() && !detached_)
            owner_.Notify(LinkEvent::LayoutChange);
    }
    const std::string& DisplayLabel() const override { return name_; }
    TAlignment Alignment() const override { return text::AlignmentFor(kind_); }
    bool ReadOnly() const override { return readOnly_; }
    bool Visible() const override { return true; }
    bool IsNull() const override
    {
        const Snapshot* store;
        std::int64_t row;
        return detached_ || !owner_.ActiveCell(store, row) || store->IsNull(index_, row);
    }
    std::string DisplayText() const override { return Text(true); }
    std::string PlainText() const override { return Text(false); }
    void SetValue(const std::string& value) override;
    TADOQuery& DataSet() const override { return owner_.self; }

    SlotKind Slot() const { return slot_; }
    const ColumnInfo& Column() const { return column_; }
    const std::string& BaseColumn() const { return column_.baseColumn.empty() ? name_ : column_.baseColumn; }
    void Detach() { detached_ = true; }
    CellWriter Writer(Snapshot& store, std::int64_t row) const
    {
        return CellWriter(store, index_, row, kind_, size_);
    }
    ParamValue ToParam(const Snapshot& store, std::int64_t row) const;

    // The text of the cell at a row of a snapshot, without the active row:
    // a view of the stored bytes where the text is the value itself, else
    // of `scratch`.
    std::string_view TextAt(const Snapshot& store, std::int64_t row, bool display,
                            std::string& scratch) const;

private:
    std::string Text(bool display) const;

    TADOQuery::Impl& owner_;
    int index_;
    std::string name_;
    TFieldType kind_;
    ColumnInfo column_;
    SlotKind slot_;
    int size_;
    int precision_;
    int displayWidth_;
    bool readOnly_;
    bool unsignedValues_;
    bool detached_ = false;  // the record set closed while someone still held this field
};

} // namespace querlin::data
