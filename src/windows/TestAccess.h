#pragma once
// The one way the tests, the benchmarks and the developers' tools reach the
// windows' own members: the controls, record sets and handlers that only the
// window itself uses. test::Of(window) names them as the window does:
// test::Of(*Form1).qry4, test::Of(*frmmain).btn1Click(). Not for the
// program's own code.

#include "windows/Unit1.h"
#include "windows/main.h"

namespace querlin::test {

struct BrowserAccess {
    explicit BrowserAccess(TForm1& f)
        : form(f), qry1(f.qry1), qry2(f.qry2), qry3(f.qry3), qry4(f.qry4), ds1(f.ds1), ds2(f.ds2), ds3(f.ds3),
          ds4(f.ds4), con1(f.con1), grp1(f.grp1), grp2(f.grp2), grp3(f.grp3), grp4(f.grp4), dbgrd1(f.dbgrd1),
          dbgrd2(f.dbgrd2), dbgrd3(f.dbgrd3), dbgrd4(f.dbgrd4), lbl1(f.lbl1), lbl2(f.lbl2), pm2(f.pm2), N2(f.N2),
          pm3(f.pm3), N3(f.N3), pm4(f.pm4), S1(f.S1), dlgSave1(f.dlgSave1)
    {
    }
    TForm1& form;
    data::TADOQuery& qry1;
    data::TADOQuery& qry2;
    data::TADOQuery& qry3;
    data::TADOQuery& qry4;
    data::TDataSource& ds1;
    data::TDataSource& ds2;
    data::TDataSource& ds3;
    data::TDataSource& ds4;
    data::TADOConnection& con1;
    QGroupBox*& grp1;
    QGroupBox*& grp2;
    QGroupBox*& grp3;
    QGroupBox*& grp4;
    grid::TDataGrid*& dbgrd1;
    grid::TDataGrid*& dbgrd2;
    grid::TDataGrid*& dbgrd3;
    grid::TDataGrid*& dbgrd4;
    QLabel*& lbl1;
    QLabel*& lbl2;
    QMenu*& pm2;
    QAction*& N2;
    QMenu*& pm3;
    QAction*& N3;
    QMenu*& pm4;
    QAction*& S1;
    TSaveDialog& dlgSave1;

    void FormCreate() { form.FormCreate(); }
    void FormClose() { form.FormClose(); }
    void dbgrd1CellClick(grid::TGridColumn* Column) { form.dbgrd1CellClick(Column); }
    void dbgrd2CellClick(grid::TGridColumn* Column) { form.dbgrd2CellClick(Column); }
    void dbgrd3CellClick(grid::TGridColumn* Column) { form.dbgrd3CellClick(Column); }
    void dbgrd1KeyUp(std::uint16_t& Key, grid::TShiftState Shift) { form.dbgrd1KeyUp(Key, Shift); }
    void dbgrd2KeyUp(std::uint16_t& Key, grid::TShiftState Shift) { form.dbgrd2KeyUp(Key, Shift); }
    void dbgrd3KeyUp(std::uint16_t& Key, grid::TShiftState Shift) { form.dbgrd3KeyUp(Key, Shift); }
    void dbgrd1DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State)
    {
        form.dbgrd1DrawColumnCell(Rect, DataCol, Column, State);
    }
    void dbgrd2DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State)
    {
        form.dbgrd2DrawColumnCell(Rect, DataCol, Column, State);
    }
    void dbgrd3DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State)
    {
        form.dbgrd3DrawColumnCell(Rect, DataCol, Column, State);
    }
    void dbgrd4DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State)
    {
        form.dbgrd4DrawColumnCell(Rect, DataCol, Column, State);
    }
    void N2Click() { form.N2Click(); }
    void N3Click() { form.N3Click(); }
    void S1Click() { form.S1Click(); }
    void CopyDbDataToExcel(grid::TDataGrid& grid) { form.CopyDbDataToExcel(grid); }
    bool TableExist(data::TADOConnection& connection, const std::string& tableName)
    {
        return form.TableExist(connection, tableName);
    }
};

struct LoginAccess {
    explicit LoginAccess(Tfrmmain& f)
        : form(f), grp1(f.grp1), Label1(f.Label1), Label2(f.Label2), Label5(f.Label5), Label4(f.Label4),
          Label3(f.Label3), ipadd(f.ipadd), ipport(f.ipport), ipsid(f.ipsid), uname(f.uname), upass(f.upass),
          grp2(f.grp2), btn1(f.btn1), btn2(f.btn2)
    {
    }
    Tfrmmain& form;
    QGroupBox*& grp1;
    QLabel*& Label1;
    QLabel*& Label2;
    QLabel*& Label5;
    QLabel*& Label4;
    QLabel*& Label3;
    QLineEdit*& ipadd;
    QLineEdit*& ipport;
    QLineEdit*& ipsid;
    QLineEdit*& uname;
    QLineEdit*& upass;
    QGroupBox*& grp2;
    QPushButton*& btn1;
    QPushButton*& btn2;

    void FormCreate() { form.FormCreate(); }
    void ipaddKeyPress(char16_t& Key) { form.ipaddKeyPress(Key); }
    void ipportKeyPress(char16_t& Key) { form.ipportKeyPress(Key); }
    void ipsidKeyPress(char16_t& Key) { form.ipsidKeyPress(Key); }
    void unameKeyPress(char16_t& Key) { form.unameKeyPress(Key); }
    void upassKeyPress(char16_t& Key) { form.upassKeyPress(Key); }
    void btn1Click() { form.btn1Click(); }
    void btn2Click() { form.btn2Click(); }
    void readora() { form.readora(); }
    void creatora() { form.creatora(); }
    void regcreat() { form.regcreat(); }
    void setora(std::function<void(std::exception_ptr)> done = {}) { form.setora(std::move(done)); }
};

inline BrowserAccess Of(TForm1& window) { return BrowserAccess(window); }
inline LoginAccess Of(Tfrmmain& window) { return LoginAccess(window); }

} // namespace querlin::test
