#include "ngroup.h"

#include <algorithm>
#include <cstring>

NGroup::~NGroup()
{
    // In list order, each child gone from the list before it is deleted.
    while (!children.empty()) {
        std::unique_ptr<NView> child = std::move(children.front());
        children.erase(children.begin());
        child.reset();
    }
}

void NGroup::move(int begrow, int begcol)
{
    NView::move(begrow, begcol);
    for (auto& child : children)
        child->move(child->rect.begrow, child->rect.begcol);
}

void NGroup::refresh()
{
    NView::refresh();
    for (auto& child : children)
        child->refresh();
}

void NGroup::setneedrefresh()
{
    NView::setneedrefresh();
    for (auto& child : children)
        child->setneedrefresh();
}

bool NGroup::haschild(const NView* child) const
{
    return std::any_of(children.begin(), children.end(),
                       [child](const std::unique_ptr<NView>& c) { return c.get() == child; });
}

void NGroup::eventhandle(NEvent* ev)
{
    if (!ev || ev->done)
        return;
    // A handler may insert or delete children; walk a copy and skip the ones that went away.
    std::vector<NView*> order;
    order.reserve(children.size());
    for (auto& child : children)
        order.push_back(child.get());
    for (auto it = order.rbegin(); it != order.rend() && !ev->done; ++it) {
        if (haschild(*it))
            (*it)->eventhandle(ev);
    }
}

void NGroup::insert(NView* child)
{
    if (!child || child == this || haschild(child))
        return;
    child->setowner(this);
    children.emplace_back(child);
}

void NGroup::remove(NView* child)
{
    for (auto it = children.begin(); it != children.end();) {
        if (it->get() == child) {
            child->owner = nullptr;
            it->release(); // the caller owns it again
            it = children.erase(it);
        } else {
            ++it;
        }
    }
}

NView* NGroup::getitembyid(const char* id)
{
    if (!id)
        return nullptr;
    for (auto& child : children) {
        if (std::strcmp(child->getid(), id) == 0)
            return child.get();
    }
    return nullptr;
}

bool NGroup::destroybyid(const char* id)
{
    NView* child = getitembyid(id);
    if (!child)
        return false;
    auto it = std::find_if(children.begin(), children.end(),
                           [child](const std::unique_ptr<NView>& c) { return c.get() == child; });
    std::unique_ptr<NView> doomed = std::move(*it);
    children.erase(it);
    return true; // deleted here, after it left the list
}

void NGroup::centermodals(int rows, int cols)
{
    for (auto& child : children) {
        if (child->ismodal())
            // A dialog larger than the screen keeps its top left corner on it.
            child->move(std::max(0, rows / 2 - child->rect.rows / 2),
                        std::max(0, cols / 2 - child->rect.cols / 2));
    }
}
