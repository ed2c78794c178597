#include "output/pst/ltp_tc_writer.h"

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/byte_reader.h"
#include "output/pst/ltp_bth.h"
#include "output/pst/ltp_subnodes.h"

namespace bm::pst {

namespace {

// The row matrix of a table too large for one heap allocation: blocks of
// whole rows written as they fill, every one but the last padded to the
// full block size, then a data tree over them.
class MatrixBlocks {
public:
    MatrixBlocks(NodeSink& ndb, std::size_t rowSize)
        : ndb_(ndb), rowSize_(rowSize), perBlock_(RowsPerMatrixBlock(static_cast<std::uint16_t>(rowSize))),
          block_(kMaxBlockData, 0) {}

    // Room for the next row, zeroed.
    std::uint8_t* NextRow() {
        if (rowsInBlock_ == perBlock_) Flush(kMaxBlockData);
        return block_.data() + rowSize_ * rowsInBlock_++;
    }
    // The data tree (or single block) of the whole matrix.
    Bid Finish() {
        if (rowsInBlock_ > 0) Flush(rowSize_ * rowsInBlock_);
        return ndb_.WriteDataTree(pieces_);
    }

private:
    void Flush(std::size_t size) {
        pieces_.push_back({ndb_.WriteData(std::span(block_).first(size)), size});
        std::fill(block_.begin(), block_.end(), 0);
        rowsInBlock_ = 0;
    }

    NodeSink& ndb_;
    std::size_t rowSize_;
    std::size_t perBlock_;
    std::vector<std::uint8_t> block_;
    std::size_t rowsInBlock_ = 0;
    std::vector<NdbWriter::DataPiece> pieces_;
};

}  // namespace

void WriteTableContext(NodeSink& ndb, Nid nid, Nid parent, const TableLayout& layout, const TableRowSource& rows) {
    if (layout.columns().size() > 0xFF) throw std::invalid_argument("a table has at most 255 columns");
    LocalSubnodes subnodes(ndb);
    const LargeValueSink valueSink = subnodes.Sink();

    // Heap blocks go to the file as they are finished; the node's data tree
    // lists them in heap order at the end.
    std::vector<NdbWriter::DataPiece> heapBlocks;
    HeapBuilder heap(HeapClient::TableContext);
    heap.StreamBlocks([&](std::size_t index, std::vector<std::uint8_t> bytes) {
        if (index >= heapBlocks.size()) heapBlocks.resize(index + 1);
        heapBlocks[index] = {ndb.WriteData(bytes), bytes.size()};
    });
    // The same allocations, in the same order, as BuildTableContext makes.
    const Hid rowIndexHeader = ReserveBthHeader(heap);
    const Hid infoHid = heap.Allocate(std::vector<std::uint8_t>(TcInfoSize(layout), 0));

    std::size_t count = 0;
    Hid rowIndex = 0;
    {
        std::vector<BthRecord> index;
        rows([&](const TableRow& row) {
            BthRecord r;
            r.key = row.id;
            PutLe(r.data.data(), count++, 4);
            index.push_back(r);
        });
        rowIndex = BuildBth(heap, 4, 4, std::move(index), rowIndexHeader);
    }

    const std::size_t rowSize = layout.rowSize();
    const bool inHeap = count * rowSize <= kMaxHeapAllocation;
    std::vector<std::uint8_t> heapMatrix;
    std::optional<MatrixBlocks> blocks;
    if (inHeap) {
        heapMatrix.assign(count * rowSize, 0);
    } else {
        blocks.emplace(ndb, rowSize);
    }
    std::size_t placed = 0;
    rows([&](const TableRow& row) {
        if (placed == count) throw std::logic_error("a table's rows changed between their two readings");
        std::uint8_t* p = inHeap ? heapMatrix.data() + placed * rowSize : blocks->NextRow();
        PlaceRow(layout, row, p, heap, valueSink);
        ++placed;
    });
    if (placed != count) throw std::logic_error("a table's rows changed between their two readings");

    std::uint32_t rowsRef = 0;
    if (count > 0) rowsRef = inHeap ? heap.Allocate(heapMatrix) : subnodes.Add(NidType::Ltp, blocks->Finish(), 0);
    heap.Overwrite(infoHid, TcInfo(layout, rowIndex, rowsRef));
    heap.SetUserRoot(infoHid);
    heap.FinishStreaming();
    const Bid data = ndb.WriteDataTree(heapBlocks);
    ndb.SetNode(nid, data, subnodes.Finish(), parent);
}

}  // namespace bm::pst
