// The step history: a ring of the steps taken, each with where its piece
// starts in the trace and the parser's view after it, and checkpoints of the
// view along the trace for the jumps that must work a view out anew.
#include "kwt.h"

std::array<int64_t, kStepSlots> lTrace{};
std::array<ParserView, kStepSlots> stepViews{};
uint16_t sStepBottom = 0;
uint16_t sStepTop = 0;
uint16_t sStepCursor = 0;

namespace {

constexpr uint16_t kSlotMask = kStepSlots - 1;

uint16_t NextSlot(uint16_t slot) { return static_cast<uint16_t>((slot + 1) & kSlotMask); }
uint16_t PreviousSlot(uint16_t slot) { return static_cast<uint16_t>((slot - 1) & kSlotMask); }

// Makes the slot after the cursor the newest step, read from `offset`; steps
// after the cursor are dropped, and in a full ring the oldest gives way.
void PushStep(int64_t offset, const ParserView& view) {
    sStepCursor = NextSlot(sStepCursor);
    sStepTop = NextSlot(sStepCursor);
    if (sStepTop == sStepBottom) sStepBottom = NextSlot(sStepBottom);
    lTrace[sStepCursor] = offset;
    stepViews[sStepCursor] = view;
}

// Shows the piece at `offset` on the trace row; false, with the row as it
// was, past the trace's end.
bool ShowPiece(int64_t offset, TracePiece* piece) {
    if (!ReadTracePiece(offset, piece)) return false;
    szTrace = piece->text;
    return true;
}

// Shows the recorded step under the cursor again, from its trace offset.
void ReplayStep(ConsoleHandle output, uint16_t& scroll) {
    nState = stepViews[sStepCursor].state;
    LoadLRT();
    TracePiece piece;
    ShowPiece(lTrace[sStepCursor], &piece);
    Repaint(output, scroll);
}

// ---- checkpoints ---------------------------------------------------------------------

// Checkpoints lie at least `spacing` bytes apart, in the order of the trace;
// when the table is full every other one goes and the spacing doubles.
constexpr std::size_t kCheckpointsMax = 1024;
constexpr int64_t kFirstSpacing = int64_t{64} * 1024;

struct Checkpoint {
    int64_t lineStart = 0;
    ParserView view;
};

std::array<Checkpoint, kCheckpointsMax> checkpoints{};
std::size_t checkpointCount = 0;
int64_t spacing = kFirstSpacing;

void ThinCheckpoints() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < checkpointCount; i += 2) checkpoints[kept++] = checkpoints[i];
    checkpointCount = kept;
    spacing *= 2;
}

// ---- room for the stacks -------------------------------------------------------------

// A line may fill a stack of the greatest depth at once.
constexpr uint32_t kStackReserve = kStackDepthMax + 8;

void MarkView(const ParserView& view) {
    for (const StackHandle stack : view.stacks) MarkStack(stack);
}

void CollectUnheld(const ParserView* working, std::size_t count) {
    // Neighbouring steps mostly hold the same stacks (every piece of a long
    // line does): those are marked once.
    const ParserView* marked = nullptr;
    for (uint16_t slot = sStepBottom; slot != sStepTop; slot = NextSlot(slot)) {
        const ParserView& view = stepViews[slot];
        if (marked == nullptr || view.stacks != marked->stacks) MarkView(view);
        marked = &view;
    }
    for (std::size_t i = 0; i < checkpointCount; ++i) MarkView(checkpoints[i].view);
    for (std::size_t i = 0; i < count; ++i) MarkView(working[i]);
    CollectStacks();
}

}  // namespace

void NoteCheckpoint(int64_t lineStart, const ParserView& view) {
    if (checkpointCount > 0 && lineStart < checkpoints[checkpointCount - 1].lineStart + spacing) {
        return;
    }
    if (checkpointCount == kCheckpointsMax) {
        ThinCheckpoints();
        if (lineStart < checkpoints[checkpointCount - 1].lineStart + spacing) return;
    }
    checkpoints[checkpointCount++] = Checkpoint{lineStart, view};
}

int64_t CheckpointDue() {
    return checkpointCount > 0 ? checkpoints[checkpointCount - 1].lineStart + spacing : INT64_MIN;
}

void FindCheckpoint(int64_t offset, int64_t* lineStart, ParserView* view) {
    std::size_t low = 0;
    std::size_t high = checkpointCount;
    while (high - low > 1) {
        const std::size_t middle = (low + high) / 2;
        if (checkpoints[middle].lineStart <= offset) {
            low = middle;
        } else {
            high = middle;
        }
    }
    *lineStart = checkpoints[low].lineStart;
    *view = checkpoints[low].view;
}

bool KeepStackRoom(const ParserView* working, std::size_t count) {
    // Whenever the room is short: what the last collection could not free
    // may have been let go since (Home, End and jumps drop steps), however
    // little that collection left.
    if (StackEntriesFree() >= kStackReserve) return false;
    CollectUnheld(working, count);
    if (StackEntriesFree() < kStackReserve && checkpointCount > 1) {
        // The steps hold too much: the checkpoints' stacks give way, all but
        // the first, which views are worked out from at the worst.
        checkpointCount = 1;
        CollectUnheld(working, count);
    }
    return true;
}

void ResetSteps() {
    sStepBottom = 0;
    sStepTop = 0;
    sStepCursor = 0;
    stepViews.fill(ParserView{});
    lTrace.fill(0);
    checkpointCount = 0;
    spacing = kFirstSpacing;
    ResetStacks();
}

const ParserView& ShownView() { return stepViews[sStepCursor]; }

bool BeginSteps(ConsoleHandle output, uint16_t& scroll) {
    MarkFirstLine();
    const ParserView first = FirstView();
    checkpointCount = 0;
    spacing = kFirstSpacing;
    NoteCheckpoint(FirstLineStart(), first);
    // The first step shows the first piece, after it as a generator's parser
    // is (kwt's own format shows its first line only).
    ParserView view = first;
    TracePiece piece;
    const bool read = ShowPiece(FirstLineStart(), &piece);
    if (read) FollowPiece(view, piece, first.state);
    if (read && piece.endsLine) NoteCheckpoint(piece.next, view);
    stepViews[sStepCursor] = view;
    lTrace[sStepCursor] = FirstLineStart();
    sStepTop = NextSlot(sStepCursor);
    nState = view.state;
    LoadLRT();
    Repaint(output, scroll);
    return read;
}

void NextStep(ConsoleHandle output, uint16_t& scroll) {
    if (NextSlot(sStepCursor) != sStepTop) {
        sStepCursor = NextSlot(sStepCursor);
        ReplayStep(output, scroll);
        return;
    }
    // Reading goes on with the piece after the newest step's.
    ParserView view = stepViews[sStepCursor];
    TracePiece newest;
    const int64_t offset =
        ReadTracePiece(lTrace[sStepCursor], &newest) ? newest.next : lTrace[sStepCursor];
    KeepStackRoom(&view, 1);
    TracePiece piece;
    if (!ShowPiece(offset, &piece)) {
        // At the end of the trace there is no step to take, and none is
        // recorded: reading goes on from there when the trace grows.
        BeepCannotAct();
        return;
    }
    FollowPiece(view, piece, nState);
    PushStep(offset, view);
    if (piece.endsLine) NoteCheckpoint(piece.next, view);
    nState = view.state;
    LoadLRT();
    Repaint(output, scroll);
}

void PrevStep(ConsoleHandle output, uint16_t& scroll) {
    if (sStepBottom == sStepTop || sStepCursor == sStepBottom) return;
    sStepCursor = PreviousSlot(sStepCursor);
    ReplayStep(output, scroll);
}

void RestartSteps() {
    // The step on display becomes the only recorded step, with its view;
    // reading goes on after the trace piece it shows.
    const int64_t offset = lTrace[sStepCursor];
    const ParserView view = stepViews[sStepCursor];
    sStepBottom = 0;
    sStepCursor = 0;
    sStepTop = NextSlot(sStepCursor);
    lTrace[sStepCursor] = offset;
    stepViews[sStepCursor] = view;
}

void RecordJump(int64_t offset, const ParserView& view) { PushStep(offset, view); }
